# `cpack -G DEB` in the build folder makes the Debian package of what
# `cmake --install` puts in place.
set(CPACK_PACKAGE_NAME kestra)
set(CPACK_PACKAGE_VENDOR "the Kestra authors")
set(CPACK_PACKAGE_CONTACT "Kestra maintainers <maintainers@users.noreply.c-seed-9895d0b8.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "disk optimiser for FAT12, FAT16 and FAT32 volumes")
set(CPACK_PACKAGE_DESCRIPTION
  "Kestra analyses and optimises FAT volumes: image files, partitions inside
disk images with an MBR, and unmounted block devices such as SD cards and
USB sticks. It checks the structure, draws a coloured cluster map, makes
every fragmented file contiguous and packs free space to the end of the
volume, in a write order that keeps every byte of user data safe across an
interruption.
.
The package holds the desktop program kestra and the terminal program
kestra-cli, which also offers a sector hex viewer and file checksum,
validation and read-timing tools.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link against, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dosfstools")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mtools")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
