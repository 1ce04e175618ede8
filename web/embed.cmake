# Makes the page dispdome-export writes into a C++ header of bytes:
# page.html with each "@INCLUDE name@" replaced by the file web/name (the
# style, the shaders, the script) and "@MODULE@" by the module's script
# MODULE_JS, split at "@DATA@", where the export puts the images, into
# WEB_PAGE_HEAD and WEB_PAGE_TAIL; and the module's WebAssembly MODULE_WASM
# as WEB_MODULE_WASM (empty, both of them, for a build without the module).
#     cmake -DSOURCE_DIR=web -DOUTPUT=web_page_parts.h [-DMODULE_JS=... -DMODULE_WASM=...] -P embed.cmake
cmake_minimum_required(VERSION 3.16)
file(READ "${SOURCE_DIR}/page.html" page)
string(REGEX MATCHALL "@INCLUDE [A-Za-z_.]+@" includes "${page}")
set(module "")
if(MODULE_JS)
  file(READ "${MODULE_JS}" module)
endif()
foreach(include IN LISTS includes ITEMS @MODULE@)
  if(include STREQUAL "@MODULE@")
    set(name "${MODULE_JS}")
    set(content "${module}")
  else()
    string(REGEX REPLACE "@INCLUDE ([A-Za-z_.]+)@" "\\1" name "${include}")
    file(READ "${SOURCE_DIR}/${name}" content)
  endif()
  # It goes inside a <script> or <style> element, which this would end.
  string(TOLOWER "${content}" lower)
  string(FIND "${lower}" "</script" script)
  string(FIND "${lower}" "</style" style)
  if(NOT script EQUAL -1 OR NOT style EQUAL -1)
    message(FATAL_ERROR "${name} holds an end tag, which would end the page's element early")
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
foreach(part head tail wasm)
  if(part STREQUAL "wasm")
    set(hex "")
    if(MODULE_WASM)
      file(READ "${MODULE_WASM}" hex HEX)
    endif()
  else()
    file(WRITE "${OUTPUT}.${part}" "${${part}}")
    file(READ "${OUTPUT}.${part}" hex HEX)
    file(REMOVE "${OUTPUT}.${part}")
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # 32 to a line (CMake's expressions have no {32}).
  string(REPEAT "0x..," 32 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  string(TOUPPER "${part}" name)
  if(part STREQUAL "wasm")
    # At least one byte, which C++ wants of an array: the size says none.
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(APPEND text "const unsigned char WEB_MODULE_WASM[] = {\n${bytes}0\n};\n"
                       "constexpr unsigned long WEB_MODULE_SIZE = ${size};\n")
  else()
    string(APPEND text "const unsigned char WEB_PAGE_${name}[] = {\n${bytes}\n};\n\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}.new" "${text}")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
