# Adds the sample executables to the staged bin/ folder, each only where bin/ does not
# already carry a file of that name (the real program's files take precedence). With
# SIGN_SCRIPT set, the project's own uninstaller is signed once staged (a publisher's
# own one is theirs to sign), before it is packed.
string(REPLACE "|" ";" samples "${SAMPLES}")
foreach(sample IN LISTS samples)
  get_filename_component(name "${sample}" NAME)
  if(NOT EXISTS "${STAGE}/${name}")
    file(COPY "${sample}" DESTINATION "${STAGE}")
    if(SIGN_SCRIPT AND name STREQUAL "Uninstall.exe")
      execute_process(COMMAND bash "${SIGN_SCRIPT}" "${STAGE}/${name}" RESULT_VARIABLE signed)
      if(NOT signed EQUAL 0)
        message(FATAL_ERROR "signing the staged ${name} failed")
      endif()
    endif()
  endif()
endforeach()
