SUMMARY = "Orbiel multiboot manager: early-boot init and boot menu"
DESCRIPTION = "obinit (the box's init: finds the boot medium labelled ob..., runs the \
menu, boots the chosen image) and orbiel (the framebuffer boot menu), with the \
boot-medium tree (menu program, logo, font) to copy onto the medium."
LICENSE = "GPL-2.0-or-later"
LIC_FILES_CHKSUM = "file://LICENSE;md5=b234ee4d69f5fce4486a80fdaf4a4263"

# Point this at your clone of the Orbiel repository.
SRC_URI = "git:///srv/git/orbiel.git;protocol=file;branch=main"
SRCREV = "${AUTOREV}"
# The release is the project version of CMakeLists.txt (the tests check that
# the two agree).
PV = "0.1.0+git${SRCPV}"
S = "${WORKDIR}/git"

# The menu links FreeType, libjpeg-turbo and libmd (PIN digest), obctl also
# libarchive (image archives); the start logo is drawn at build time by a tool
# that runs on the build machine.
DEPENDS = "freetype libjpeg-turbo libmd libarchive libjpeg-turbo-native ttf-dejavu"

inherit cmake

# Built with the box's own toolchain and C library: obinit links statically
# (libc.a comes with the toolchain's sysroot), the menu dynamically against
# the firmware's libraries (OB_STATIC_MENU stays off). The machine's tune
# flags give the instruction set (MIPS32 release 1 for the boxes); the
# project's own toolchain file is not used here. obinit goes into the root's
# /sbin, where the kernel looks for init, not under the prefix.
EXTRA_OECMAKE = "\
    -DOB_TESTS=OFF \
    -DOB_MAKE_LOGO=${B}/make_logo-native \
    -DOB_FONT=${RECIPE_SYSROOT}${datadir}/fonts/truetype/DejaVuSans.ttf \
    -DOB_INSTALL_SBINDIR=${base_sbindir} \
    -DOB_INSTALL_MEDIUMDIR=${datadir}/orbiel/medium \
"

# The logo tool for the build machine, made before the cross build needs it.
do_compile:prepend() {
    ${BUILD_CXX} ${BUILD_CXXFLAGS} -std=c++17 -o ${B}/make_logo-native \
        ${S}/tools/make_logo.cpp ${BUILD_LDFLAGS} -ljpeg
}

PACKAGES =+ "${PN}-medium"
FILES:${PN} = "${base_sbindir}/obinit"
# The tree to copy onto the boot medium; its bin/tune2fs is the firmware's own
# (e2fsprogs-tune2fs), copied there by whoever lays out the medium.
FILES:${PN}-medium = "${datadir}/orbiel/medium"

# To make obinit the box's init, link it in the image recipe, for example:
#   ROOTFS_POSTPROCESS_COMMAND += "orbiel_init;"
#   orbiel_init() { ln -sf obinit ${IMAGE_ROOTFS}${base_sbindir}/init; }
# or boot with init=/sbin/obinit on the kernel command line.
