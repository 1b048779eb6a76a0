# The Debian package that `cpack -G DEB` makes from a Release build: the program,
# its manual page (gzipped) and the licence. See tools/release.sh.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bootsieve)
set(CPACK_PACKAGE_VENDOR "The Bootsieve authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report the boot sectors and partition tables of PC disks")
set(CPACK_PACKAGE_DESCRIPTION
    "Bootsieve reads the MBR and its partition table, the extended boot records,
the GUID partition table and its backup, the FAT12/16, FAT32, NTFS and exFAT
boot sectors with their backups and sectors 1 to 62 of drives 0 to 9. It writes
what it finds, and the faults that keep a PC from booting, to plain-text reports
in the current directory. Its only write to a disk restores a broken boot sector
from its backup, and only when the user answers yes.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "The Bootsieve authors <maintainers@users.noreply.c-seed-587a4811.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-staging.cmake)
set(CPACK_BOOTSIEVE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
