# Runs in cpack, between laying the files out and building the .deb (CPACK_PRE_BUILD_SCRIPTS):
# what only the Debian package gets, so that `cmake --install` stays a self-contained folder.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(resources "${root}${CPACK_PACKAGING_INSTALL_PREFIX}/resources")
if(NOT EXISTS "${resources}/adb")
    message(FATAL_ERROR "No resources/adb under ${root}: the install layout has changed")
endif()
# The package depends on Debian's adb, so the program uses that one, upgraded with the
# libraries it was built against.
file(REMOVE "${resources}/adb")
file(CREATE_LINK /usr/bin/adb "${resources}/adb" SYMBOLIC)
# The udev rule that lets the desk's user open the car's USB device. /usr/lib, not /lib: on a
# merged-/usr system (Debian 12 and later) both are one folder, and dpkg must know the file by
# its real path. COPY, not INSTALL: cpack still has DESTDIR set here, which INSTALL would put
# in front once more.
file(COPY "${CPACK_ZORVIK_PACKAGING_DIR}/debian/70-zorvik-installer.rules" DESTINATION "${root}/usr/lib/udev/rules.d"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
