# What `cmake --install` puts where (DESTDIR works as usual):
#   <prefix>/sbin/obinit                    the box's init (OB_INSTALL_SBINDIR)
#   <prefix>/bin/obctl                      the medium's settings tool (box or PC)
#   <prefix>/share/orbiel/medium/           the tree to copy onto the boot
#     ob.sh obboot.ini bin/orbiel           medium (OB_INSTALL_MEDIUMDIR)
#     logos/orbiel.jpg fonts/orbiel.ttf ob/
# Components: "box" (obinit, obctl) and "medium".

# Under the prefix, like everything else: an absolute default would put obinit
# into the build machine's own /sbin on any install run as root. The box's
# kernel looks for it in the root's /sbin, so a firmware build sets that
# (the recipe gives its base_sbindir); the bundle installs with prefix /.
set(OB_INSTALL_SBINDIR "sbin" CACHE STRING "Where obinit is installed (relative: under the prefix)")
set(OB_INSTALL_MEDIUMDIR "share/orbiel/medium" CACHE STRING
    "Where the boot-medium tree is installed (relative: under the prefix)")
# The menu font is DejaVu Sans unless told otherwise; firmware builds point
# this at the font in their target sysroot.
find_file(OB_FONT DejaVuSans.ttf
          PATHS /usr/share/fonts/truetype/dejavu /usr/share/fonts/truetype /usr/share/fonts/ttf
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "TrueType font installed as the medium's fonts/orbiel.ttf")

install(TARGETS obinit RUNTIME DESTINATION "${OB_INSTALL_SBINDIR}" COMPONENT box)
install(TARGETS obctl RUNTIME DESTINATION bin COMPONENT box)

set(medium "${OB_INSTALL_MEDIUMDIR}")
# Only its presence counts: it tells that the medium is mounted.
file(WRITE "${CMAKE_BINARY_DIR}/medium/ob.sh"
     "#!/bin/sh\n# Marks the Orbiel boot medium. Only the file's presence is checked.\nexit 0\n")
install(FILES "${CMAKE_BINARY_DIR}/medium/ob.sh" DESTINATION "${medium}" COMPONENT medium
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                    WORLD_READ WORLD_EXECUTE)
# The menu writes the user's choice into an existing selection file but never
# creates one, so the medium starts with the default.
file(WRITE "${CMAKE_BINARY_DIR}/medium/obboot.ini" "Flash\n")
install(FILES "${CMAKE_BINARY_DIR}/medium/obboot.ini" DESTINATION "${medium}" COMPONENT medium)
install(TARGETS orbiel RUNTIME DESTINATION "${medium}/bin" COMPONENT medium)
install(DIRECTORY DESTINATION "${medium}/ob" COMPONENT medium)
if(OB_LOGO_FILE)
  install(FILES "${OB_LOGO_FILE}" DESTINATION "${medium}/logos" COMPONENT medium)
endif()
if(OB_FONT)
  install(FILES "${OB_FONT}" DESTINATION "${medium}/fonts" RENAME orbiel.ttf COMPONENT medium)
else()
  message(WARNING "DejaVuSans.ttf not found: set OB_FONT; the medium gets no font")
endif()
