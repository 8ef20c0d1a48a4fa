# find_package(Qx CONFIG): the imported targets Qx::UDPS and Qx::MasterVol (and the layers they
# stand on: Qx::Framework, Qx::Net, Qx::Platform), each carrying its include folder, its
# dependencies and C++20.
# Published under the MIT licence (its SPDX identifier); the text is in LICENSE at the source's
# root and in each Debian package's copyright file.
set(Qx_LICENSE "MIT")
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include(${CMAKE_CURRENT_LIST_DIR}/QxTargets.cmake)
