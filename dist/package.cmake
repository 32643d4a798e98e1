# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package (tools/package.sh). Its dependencies are not listed here:
# dpkg-shlibdeps reads them from the installed programs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora-7150r)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lumora 7150R test client maintainers <maintainers@lumora.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "http://www.lumora.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test client and emulator for the Lumora 7150R digital I/O unit")
set(CPACK_PACKAGE_DESCRIPTION [=[
A desktop client for the Lumora 7150R digital I/O unit (twelve inputs with
counters and time gaps, four outputs, on TCP). It sends status requests,
output settings and counter resets, once or repeatedly, shows the decoded
reply, logs every frame with a UTC time stamp, writes a daily log file and
runs a ping test.
.
The package also holds lumora-7150r-cli, the same client on the command line
for scripts and test stations, lumora-7150r-view, which draws the daily log
files' inputs, outputs, counters and time gaps over time and exports them as
pictures or data, and lumora-7150r-unit, an emulator of the unit for trying
the client without hardware.
.
lumora-7150r-cli serve is a Prometheus exporter for many units at once; the
package holds its systemd service, lumora-7150r-exporter, left disabled.]=])
# The package lands where the programs were configured to be, so an
# installed client recognises its own bin folder.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg keeps an owner's edits to a conffile across upgrades; every file the
# package puts under /etc must be one.
file(WRITE ${CMAKE_BINARY_DIR}/debian-control/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/lumora-7150r/units\n${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/lumora-7150r-exporter\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian-control/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
