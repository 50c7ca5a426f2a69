# Turns the page's asset files into one C++ source of byte arrays, so that
# funsize-diff carries its page in the program itself.
#
#   cmake -DOUT=assets.cpp -DSTYLE=page.css -DLAYOUT=d3-hierarchy.min.js
#         -DSCRIPT=page.js -DBODY=body.html -P embed.cmake
#
# Each asset becomes `const unsigned char NAME[]` with `NAME_size` beside it
# (see assets.h). The scripts and the style sheet are written inside <script>
# and <style> elements, so a closing tag in one of them would end the
# element early: that is refused here rather than found in a browser.
cmake_minimum_required(VERSION 3.25)

set(text "// Made at build time from the page's asset files; edit those instead.\n")
string(APPEND text "#include \"assets.h\"\n\nnamespace fdiff::page_assets {\n")
foreach(name STYLE LAYOUT SCRIPT BODY)
  set(file "${${name}}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "page asset ${name} missing: ${file}")
  endif()
  file(READ "${file}" content)
  string(TOLOWER "${content}" lowered)
  if(NOT name STREQUAL "BODY" AND (lowered MATCHES "</script" OR lowered MATCHES "</style" OR lowered MATCHES "<!--"))
    message(FATAL_ERROR "${file} contains a closing tag or comment opener that would end its element")
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
  # Break the array into lines of 32 bytes so that the source stays readable
  # to tools that choke on very long lines.
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
  string(TOLOWER "${name}" id)
  string(APPEND text "\nextern const unsigned char ${id}[] = {\n${bytes}0x00};\n")
  string(APPEND text "extern const size_t ${id}_size = ${size};\n")
endforeach()
string(APPEND text "\n}  // namespace fdiff::page_assets\n")

# Rewrite only when the content changed, so that an unchanged asset set does
# not rebuild the library.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE "${OUT}" "${text}")
