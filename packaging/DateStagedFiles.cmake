# CPack runs this before it archives: every staged file and folder gets the packages' one
# date, so the ZIP's entries do not carry the time of the build.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
execute_process(COMMAND touch -h -d @${CPACK_NEIGHBORHOOD_DATE_EPOCH} ${CPACK_TEMPORARY_DIRECTORY} ${staged}
                COMMAND_ERROR_IS_FATAL ANY)
