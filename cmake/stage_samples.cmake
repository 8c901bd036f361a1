# Adds the sample executables to the staged bin/ folder, each only where bin/ does not
# already carry a file of that name (the real program's files take precedence).
string(REPLACE "|" ";" samples "${SAMPLES}")
foreach(sample IN LISTS samples)
  get_filename_component(name "${sample}" NAME)
  if(NOT EXISTS "${STAGE}/${name}")
    file(COPY "${sample}" DESTINATION "${STAGE}")
  endif()
endforeach()
