# Run at every build: writes the checkout's commit into OUTPUT, touching it only when it
# changed, so that a build after a new commit names that commit without a new configure.
# "unknown" where there is no git checkout (a source archive).
#   cmake -DSOURCE_DIR=<checkout> -DOUTPUT=<header> -P build_commit.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND git rev-parse --short HEAD
  WORKING_DIRECTORY ${SOURCE_DIR}
  OUTPUT_VARIABLE commit
  OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET
  RESULT_VARIABLE failed)
if(failed OR commit STREQUAL "")
  set(commit unknown)
endif()
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "#define INSTALLER_BUILD_COMMIT L\"@commit@\"\n" @ONLY)
