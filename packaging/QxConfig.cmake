# find_package(Qx CONFIG): the imported targets Qx::UDPS and Qx::MasterVol (and the layers they
# stand on: Qx::Core, Qx::UI, Qx::Design, Qx::Net, Qx::HostInfo, Qx::Audio, Qx::Mixer,
# Qx::Windows, Qx::Signed), each carrying its include folder, its dependencies and C++20. Qx::UDPS
# brings no GUI or sound library.
# Published under the MIT licence (its SPDX identifier); the text is in LICENSE at the source's
# root and in each Debian package's copyright file.
set(Qx_LICENSE "MIT")
include(CMakeFindDependencyMacro)
find_dependency(Threads)
# Qx::Signed (signed command lines, used by Qx::MasterVol) links OpenSSL's libcrypto itself and
# shows none of it in its headers: a consumer needs libcrypto's shared library only, not its
# development files.
include(${CMAKE_CURRENT_LIST_DIR}/QxTargets.cmake)
