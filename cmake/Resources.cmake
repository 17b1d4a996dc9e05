# Lays out the resource directory (adb, the carried APK, the logo) in the build tree and
# compiles the carried APK's SHA-256 into the installer. Both happen at configure time, and
# the APK is a configure dependency, so replacing it and rebuilding changes the digest.

if(NOT ZORVIK_ADB OR NOT EXISTS "${ZORVIK_ADB}")
    message(FATAL_ERROR "adb not found: install Debian's adb package or set -DZORVIK_ADB=/path/to/adb")
endif()
if(NOT EXISTS "${ZORVIK_APK}")
    message(FATAL_ERROR "The APK to carry does not exist: ${ZORVIK_APK} (set -DZORVIK_APK=...)")
endif()

# The window's version line names the carried APK's version, which only the person who
# picked the APK knows. The repository's APK is 0.5.4; any other needs its version given
# with it, also when an earlier configure cached the version of another APK.
get_filename_component(ZORVIK_REPOSITORY_APK "${CMAKE_CURRENT_LIST_DIR}/../resources/ZorvikStore.apk" REALPATH)
get_filename_component(ZORVIK_APK_REAL "${ZORVIK_APK}" REALPATH)
set(ZORVIK_APK_VERSION_DOC "Version of the carried APK (ZORVIK_APK), shown in the window")
set(ZORVIK_APK_VERSION_STALE FALSE)
if(DEFINED ZORVIK_APK_VERSION_OF AND NOT ZORVIK_APK_VERSION_OF STREQUAL ZORVIK_APK_REAL
   AND ZORVIK_APK_VERSION STREQUAL ZORVIK_APK_VERSION_SEEN)
    set(ZORVIK_APK_VERSION_STALE TRUE)   # the cached version belongs to the APK carried before
endif()
if(ZORVIK_APK_REAL STREQUAL ZORVIK_REPOSITORY_APK AND (ZORVIK_APK_VERSION_STALE OR NOT ZORVIK_APK_VERSION))
    set(ZORVIK_APK_VERSION 0.5.4 CACHE STRING "${ZORVIK_APK_VERSION_DOC}" FORCE)
elseif(ZORVIK_APK_VERSION_STALE OR NOT ZORVIK_APK_VERSION)
    message(FATAL_ERROR "ZORVIK_APK is ${ZORVIK_APK}: give its version as well, "
                        "-DZORVIK_APK_VERSION=x.y.z, for the installer's version line")
endif()
set(ZORVIK_APK_VERSION "${ZORVIK_APK_VERSION}" CACHE STRING "${ZORVIK_APK_VERSION_DOC}")
set(ZORVIK_APK_VERSION_OF "${ZORVIK_APK_REAL}" CACHE INTERNAL "The APK ZORVIK_APK_VERSION was given for")
set(ZORVIK_APK_VERSION_SEEN "${ZORVIK_APK_VERSION}" CACHE INTERNAL "ZORVIK_APK_VERSION as last accepted")

if(APPLE)
    # The program looks in its bundle's Contents/Resources, so the build lays them out there.
    set(ZORVIK_RESOURCE_DIR "${CMAKE_BINARY_DIR}/Zorvik App Installer.app/Contents/Resources")
endif()
if(WIN32)
    # adb.exe needs its two USB DLLs beside it; the platform-tools folder has all three.
    get_filename_component(ZORVIK_ADB_WINDOWS_DIR_DEFAULT "${ZORVIK_ADB}" DIRECTORY)
    set(ZORVIK_ADB_WINDOWS_DIR "${ZORVIK_ADB_WINDOWS_DIR_DEFAULT}" CACHE PATH
        "Folder with adb.exe, AdbWinApi.dll and AdbWinUsbApi.dll (Android platform-tools)")
    set(ZORVIK_ADB_FILES)
    foreach(name adb.exe AdbWinApi.dll AdbWinUsbApi.dll)
        if(NOT EXISTS "${ZORVIK_ADB_WINDOWS_DIR}/${name}")
            message(FATAL_ERROR "${name} not found in ZORVIK_ADB_WINDOWS_DIR=${ZORVIK_ADB_WINDOWS_DIR}")
        endif()
        list(APPEND ZORVIK_ADB_FILES "${ZORVIK_ADB_WINDOWS_DIR}/${name}")
    endforeach()
endif()

file(MAKE_DIRECTORY "${ZORVIK_RESOURCE_DIR}")
get_filename_component(ZORVIK_ADB_REAL "${ZORVIK_ADB}" REALPATH)
if(WIN32)
    file(COPY ${ZORVIK_ADB_FILES} DESTINATION "${ZORVIK_RESOURCE_DIR}")
elseif(APPLE)
    # The bundle laid out here is the installed program, so it carries a real copy.
    configure_file("${ZORVIK_ADB_REAL}" "${ZORVIK_RESOURCE_DIR}/adb" COPYONLY)
else()
    # adb finds its own libraries through absolute paths, so a link to the system binary is
    # enough here; the installed program gets a real copy (packaging/).
    file(CREATE_LINK "${ZORVIK_ADB_REAL}" "${ZORVIK_RESOURCE_DIR}/adb" SYMBOLIC)
endif()
configure_file("${ZORVIK_APK}" "${ZORVIK_RESOURCE_DIR}/ZorvikStore.apk" COPYONLY)
if(EXISTS "${ZORVIK_LOGO}")
    configure_file("${ZORVIK_LOGO}" "${ZORVIK_RESOURCE_DIR}/logo.png" COPYONLY)
endif()

file(SHA256 "${ZORVIK_APK}" ZORVIK_APK_SHA256)
configure_file("${CMAKE_SOURCE_DIR}/install/expecteddigest.h.in"
               "${CMAKE_BINARY_DIR}/generated/expecteddigest.h" @ONLY)
message(STATUS "Carried APK: ${ZORVIK_APK} (SHA-256 ${ZORVIK_APK_SHA256})")
