# find_package(Qx CONFIG): the imported targets Qx::UDPS and Qx::MasterVol (and the layers they
# stand on: Qx::Core, Qx::UI, Qx::Design, Qx::Net, Qx::HostInfo, Qx::Audio, Qx::Mixer,
# Qx::Windows), each carrying its include folder, its dependencies and C++20. Qx::UDPS brings
# no GUI or sound library.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include(${CMAKE_CURRENT_LIST_DIR}/QxTargets.cmake)
