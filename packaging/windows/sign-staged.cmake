# Run by CPack once the files are staged: signs every program with the key and certificate named by
# QOR_SIGN_KEY and QOR_SIGN_CERT (PEM files), when both are set, before they go into the installer;
# with QOR_SIGN_TIMESTAMP (a time-stamping server's URL) the signatures are time-stamped.
if(NOT DEFINED ENV{QOR_SIGN_KEY} OR NOT DEFINED ENV{QOR_SIGN_CERT})
  return()
endif()
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
set(timestamp)
if(DEFINED ENV{QOR_SIGN_TIMESTAMP})
  set(timestamp -ts $ENV{QOR_SIGN_TIMESTAMP})
endif()
file(GLOB_RECURSE programs ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe)
foreach(program IN LISTS programs)
  execute_process(
    COMMAND ${OSSLSIGNCODE} sign -key $ENV{QOR_SIGN_KEY} -certs $ENV{QOR_SIGN_CERT} -h sha256
            -n "QOR Firmware Upgrade" ${timestamp} -in ${program} -out ${program}.signed
    RESULT_VARIABLE status OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not sign ${program}")
  endif()
  file(RENAME ${program}.signed ${program})
endforeach()
