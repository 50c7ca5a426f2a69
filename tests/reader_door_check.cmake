# The readers take their input bytes through the host library's stream
# reader (src/shared/instream.h) only: no file of theirs calls the C
# library's read functions itself.
file(GLOB_RECURSE files ${SRC}/objfile/* ${SRC}/funsize/* ${SRC}/debug/*)
foreach(f ${files})
  file(STRINGS ${f} hits REGEX "std::(fread|getc|fgetc)\\(")
  if(hits)
    message(SEND_ERROR "${f} reads on its own: ${hits}")
  endif()
endforeach()
