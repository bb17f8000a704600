# Run by CPack on its staging folder before it builds the Debian package (CPACK_PRE_BUILD_SCRIPTS):
# what Debian's policy asks of a package beyond what `cmake --install` installs.
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Man pages compressed with gzip at its best, without a name or time stamp in the header.
file(GLOB pages "${root}/${CPACK_PIDSIFT_MANDIR}/man*/*.[1-9]")
foreach(page ${pages})
  execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The copyright file, and the changelog of a native package (its version has no Debian revision).
# file(COPY), not file(INSTALL): CPack's DESTDIR still names the staging folder.
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
file(COPY "${CPACK_PIDSIFT_COPYRIGHT}" "${CPACK_PIDSIFT_CHANGELOG}" DESTINATION "${doc}" FILE_PERMISSIONS ${readable})
file(CHMOD "${root}/share/doc" "${doc}" PERMISSIONS ${readable} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
execute_process(COMMAND gzip -9nf "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)

# Binaries and the static library stripped as Debian strips them: the tools of the sections only
# a compiler reads (CPack has stripped their symbols), the library of its debugging sections.
file(GLOB tools "${root}/${CPACK_PIDSIFT_BINDIR}/*")
execute_process(COMMAND strip --remove-section=.comment --remove-section=.note ${tools} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND strip --strip-debug --remove-section=.comment --remove-section=.note
  --enable-deterministic-archives "${root}/${CPACK_PIDSIFT_LIBDIR}/libtransport_stream.a" COMMAND_ERROR_IS_FATAL ANY)
