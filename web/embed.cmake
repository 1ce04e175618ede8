# Makes the page dispdome-export writes into a C++ header of bytes:
# page.html with each "@INCLUDE name@" replaced by the file web/name (the
# style, the shaders, the script), split at "@DATA@", where the export puts
# the images, into WEB_PAGE_HEAD and WEB_PAGE_TAIL.
#     cmake -DSOURCE_DIR=web -DOUTPUT=web_page_parts.h -P embed.cmake
file(READ "${SOURCE_DIR}/page.html" page)
string(REGEX MATCHALL "@INCLUDE [A-Za-z_.]+@" includes "${page}")
foreach(include IN LISTS includes)
  string(REGEX REPLACE "@INCLUDE ([A-Za-z_.]+)@" "\\1" name "${include}")
  file(READ "${SOURCE_DIR}/${name}" content)
  # It goes inside a <script> or <style> element, which this would end.
  string(TOLOWER "${content}" lower)
  string(FIND "${lower}" "</script" script)
  string(FIND "${lower}" "</style" style)
  if(NOT script EQUAL -1 OR NOT style EQUAL -1)
    message(FATAL_ERROR "web/${name} holds an end tag, which would end the page's element early")
  endif()
  string(REPLACE "${include}" "${content}" page "${page}")
endforeach()

string(FIND "${page}" "@DATA@" at)
if(at EQUAL -1)
  message(FATAL_ERROR "web/page.html has no @DATA@ for the images")
endif()
string(SUBSTRING "${page}" 0 ${at} head)
math(EXPR after "${at} + 6")
string(SUBSTRING "${page}" ${after} -1 tail)

# Bytes, through a file: file(READ ... HEX) is what CMake 3.16 has.
set(text "// Made from web/ by web/embed.cmake at build time: edit those files.\n#pragma once\n\n")
foreach(part head tail)
  file(WRITE "${OUTPUT}.${part}" "${${part}}")
  file(READ "${OUTPUT}.${part}" hex HEX)
  file(REMOVE "${OUTPUT}.${part}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # 32 to a line (CMake's expressions have no {32}).
  string(REPEAT "0x..," 32 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  string(TOUPPER "${part}" name)
  string(APPEND text "const unsigned char WEB_PAGE_${name}[] = {\n${bytes}\n};\n\n")
endforeach()
file(WRITE "${OUTPUT}.new" "${text}")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
