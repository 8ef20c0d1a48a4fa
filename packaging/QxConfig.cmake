# find_package(Qx CONFIG): the imported targets Qx::UDPS and Qx::MasterVol (and the layers they
# stand on: Qx::Framework, Qx::Net, Qx::Platform, Qx::Signed), each carrying its include folder, its
# dependencies and C++20.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
# Qx::Signed (signed command lines, used by Qx::MasterVol) is built on OpenSSL's libcrypto.
find_dependency(OpenSSL 3.0 COMPONENTS Crypto)
include(${CMAKE_CURRENT_LIST_DIR}/QxTargets.cmake)
