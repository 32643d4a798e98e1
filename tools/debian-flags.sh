# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by tools/package.sh and tools/build.sh: the CMake arguments of a
# Release build as the package ships it, into debian_cmake_args. Debian's own
# build flags with all its hardening: fortified libc calls, a stack protector,
# relocations bound at start-up and then read-only. Release's -O3 comes after
# their -O2 and wins. Installed under /usr, where an installed client finds
# its own bin folder.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
debian_cmake_args=(
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
)
