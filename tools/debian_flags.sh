# SPDX-License-Identifier: MIT
# Sourced by tools/test.sh and tools/package.sh: `debian_flags`, the CMake arguments for a
# build with the flags Debian's packaging tools use, hardening on (fortified functions, stack
# protector, format checks, read-only relocations, immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
debian_flags=(
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
    "-DCMAKE_SHARED_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
)
