# Lays out the resource directory (adb, the carried APK, the logo) in the build tree and
# compiles the carried APK's SHA-256 into the installer. Both happen at configure time, and
# the APK is a configure dependency, so replacing it and rebuilding changes the digest.

if(NOT ZORVIK_ADB OR NOT EXISTS "${ZORVIK_ADB}")
    message(FATAL_ERROR "adb not found: install Debian's adb package or set -DZORVIK_ADB=/path/to/adb")
endif()
if(NOT EXISTS "${ZORVIK_APK}")
    message(FATAL_ERROR "The APK to carry does not exist: ${ZORVIK_APK} (set -DZORVIK_APK=...)")
endif()

file(MAKE_DIRECTORY "${ZORVIK_RESOURCE_DIR}")
# adb finds its own libraries through absolute paths, so a link to the system binary is enough here.
get_filename_component(ZORVIK_ADB_REAL "${ZORVIK_ADB}" REALPATH)
file(CREATE_LINK "${ZORVIK_ADB_REAL}" "${ZORVIK_RESOURCE_DIR}/adb" SYMBOLIC)
configure_file("${ZORVIK_APK}" "${ZORVIK_RESOURCE_DIR}/ZorvikStore.apk" COPYONLY)
if(EXISTS "${ZORVIK_LOGO}")
    configure_file("${ZORVIK_LOGO}" "${ZORVIK_RESOURCE_DIR}/logo.png" COPYONLY)
endif()

file(SHA256 "${ZORVIK_APK}" ZORVIK_APK_SHA256)
configure_file("${CMAKE_SOURCE_DIR}/install/expecteddigest.h.in"
               "${CMAKE_BINARY_DIR}/generated/expecteddigest.h" @ONLY)
message(STATUS "Carried APK: ${ZORVIK_APK} (SHA-256 ${ZORVIK_APK_SHA256})")
