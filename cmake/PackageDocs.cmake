# Run by CPack while it stages the package (CPACK_INSTALL_SCRIPTS): the
# copyright file and the gzipped changelog go where Debian keeps them.
set(changelog ${CPACK_TOPLEVEL_DIRECTORY}/changelog.gz)
execute_process(COMMAND gzip -9 -n -c ${CPACK_ORVEL_DEBIAN_DIR}/changelog
    OUTPUT_FILE ${changelog} COMMAND_ERROR_IS_FATAL ANY)
# file(INSTALL) puts DESTDIR, the staging folder, in front.
file(INSTALL ${CPACK_ORVEL_DEBIAN_DIR}/copyright ${changelog}
    DESTINATION ${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
