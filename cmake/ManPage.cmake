# Writes a program's man page (gzipped) from its --help and --version output:
#   cmake -DPROGRAM=path -DDESCRIPTION=text -DVERSION=x.y.z -DHELP2MAN=path -DOUTPUT=file.1.gz -P ManPage.cmake
# A program that does not answer --version yet gets the project's version.
set(ENV{QX_WINDOWS} headless)  # nothing reaches a display while the page is made
get_filename_component(name "${PROGRAM}" NAME)
execute_process(COMMAND "${PROGRAM}" --version RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_QUIET
                TIMEOUT 10)
set(version_option)
if(NOT rc EQUAL 0 OR out STREQUAL "")
  set(version_option "--version-string=${name} ${VERSION}")
endif()
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
execute_process(
  COMMAND "${HELP2MAN}" --no-info --no-discard-stderr "--name=${DESCRIPTION}" --section=1
          ${version_option} --output=${page} "${PROGRAM}"
  RESULT_VARIABLE rc ERROR_VARIABLE err TIMEOUT 30)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man ${name}: ${err}")
endif()
# gzip -n keeps the page's bytes free of the build's time, so that packages are reproducible.
execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed")
endif()
