# Run by cpack in the DEB staging tree, before the package is made: Debian keeps
# manual pages gzipped (without a name or time stamp in the header, so that two
# builds are equal) and the licence in /usr/share/doc.
set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
file(GLOB pages ${root}/share/man/man*/*)
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -n -9 -f ${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(copyright ${root}/share/doc/${CPACK_PACKAGE_NAME}/copyright)
file(MAKE_DIRECTORY ${root}/share/doc/${CPACK_PACKAGE_NAME})
file(COPY_FILE ${CPACK_BOOTSIEVE_LICENSE} ${copyright})
file(CHMOD ${copyright} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
