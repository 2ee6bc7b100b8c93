# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) once it has installed the files
# into its staging folder, before each package is made: with
# SOURCE_DATE_EPOCH set, every file and folder there takes that time.
# rpmbuild only lowers later times to it, so a build older than the commit
# would otherwise give other times, and other bytes, than a fresh one.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  return()
endif()
execute_process(
  COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec
          touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not set the staged files' times: ${failed}")
endif()
