# The Debian package: CPack's DEB generator packs whatever the install rules
# install, so a file gets into the package by an install() rule and by nothing
# else. scripts/package configures a build for it (prefix /usr) and runs cpack.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellisync)
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_PACKAGE_CONTACT "Vellisync maintainers <vellisync@orvanta.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a local folder and a folder on an FTP server in step")
set(CPACK_PACKAGE_DESCRIPTION
    "Vellisync uploads, downloads or mirrors both ways between a local folder and
a folder on an FTP or FTPS server. A wizard sets up and runs a project, and
vellisync-cli runs the same projects without a window, for scripts and timers.")
# The version is the one project() declares; nothing else states it.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME vellisync)
# <name>_<version>_<arch>.deb: with no release number set, no "-1" part.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from what the programs link (dpkg-shlibdeps). Qt loads
# its plugins at run time, so shlibdeps cannot see them: the project state is
# kept with the SQLite driver. The X11 platform plugin the wizard needs ships
# in libqt6gui6, which shlibdeps finds; Wayland sessions run it through
# XWayland unless the native plugin is there.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
# The desktop keyring is reached through libsecret, which qtkeychain loads
# at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates, libsecret-1-0, qt6-wayland")

include(CPack)
