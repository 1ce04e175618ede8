# Makes the web page dispdome-export writes into C++ headers of bytes: where
# MARKUP is given, web/page.html as it is (WEB_PAGE_MARKUP), where
# "@INCLUDE name@" stands for a part and "@DATA@" for the images; where
# PARTS is given, the parts it includes (WEB_PAGE_PARTS: the style, the shaders and the
# scripts from web/, the module's script dispdome-module.js from MODULE_JS)
# with the module's WebAssembly MODULE_WASM (WEB_MODULE_WASM). Without the
# module both are left out: WEB_MODULE_SIZE is 0.
#     cmake -DSOURCE_DIR=web -DMARKUP=web_page_markup.h -P embed.cmake
#     cmake -DSOURCE_DIR=web -DPARTS=web_page_parts.h [-DMODULE_JS=... -DMODULE_WASM=...] -P embed.cmake
cmake_minimum_required(VERSION 3.16)

# The bytes of file as a C++ array's initialiser, 32 to a line (CMake's
# expressions have no {32}), and their count; one 0 more, since C++ wants
# an array of at least one.
function(bytes_of file out count)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," list "${hex}")
  string(REPEAT "0x..," 32 line)
  string(REGEX REPLACE "(${line})" "\\1\n" list "${list}")
  set(${out} "${list}0" PARENT_SCOPE)
  set(${count} ${size} PARENT_SCOPE)
endfunction()

# Writes text to path through a new file, so that a build never sees half.
function(write_header path text)
  file(WRITE "${path}.new" "// Made from web/ by web/embed.cmake at build time: edit those files.\n#pragma once\n\n${text}")
  file(RENAME "${path}.new" "${path}")
endfunction()

file(READ "${SOURCE_DIR}/page.html" page)
foreach(mark "@DATA@" "@INCLUDE page.js@")
  string(FIND "${page}" "${mark}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "web/page.html has no ${mark}")
  endif()
endforeach()
if(MARKUP)
  bytes_of("${SOURCE_DIR}/page.html" markup size)
  write_header("${MARKUP}" "constexpr unsigned long WEB_PAGE_MARKUP_SIZE = ${size};\nconst unsigned char WEB_PAGE_MARKUP[] = {\n${markup}\n};\n")
endif()
if(NOT PARTS)
  return()
endif()

set(text "struct WebPagePart {\n    const char* name;\n    const unsigned char* bytes;\n    unsigned long size;\n};\n\n")
set(list "")
string(REGEX MATCHALL "@INCLUDE [A-Za-z_.-]+@" includes "${page}")
set(count 0)
foreach(include IN LISTS includes)
  string(REGEX REPLACE "@INCLUDE ([A-Za-z_.-]+)@" "\\1" name "${include}")
  set(file "${SOURCE_DIR}/${name}")
  if(name STREQUAL "dispdome-module.js")
    if(NOT MODULE_JS)
      continue()  # no module: the export writes no page
    endif()
    set(file "${MODULE_JS}")
  endif()
  # It goes inside a <script> or <style> element, which these would end or
  # change the reading of.
  file(READ "${file}" content)
  string(TOLOWER "${content}" lower)
  foreach(mark "</script" "</style" "<!--")
    string(FIND "${lower}" "${mark}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} holds ${mark}, which would upset the page's element")
    endif()
  endforeach()
  bytes_of("${file}" bytes size)
  string(APPEND text "const unsigned char WEB_PAGE_PART_${count}[] = {\n${bytes}\n};\n")
  string(APPEND list "    {\"${name}\", WEB_PAGE_PART_${count}, ${size}},\n")
  math(EXPR count "${count} + 1")
endforeach()
string(APPEND text "\nconst WebPagePart WEB_PAGE_PARTS[] = {\n${list}};\n\n")
if(MODULE_WASM)
  bytes_of("${MODULE_WASM}" wasm size)
else()
  set(wasm "0")
  set(size 0)
endif()
string(APPEND text "constexpr unsigned long WEB_MODULE_SIZE = ${size};\nconst unsigned char WEB_MODULE_WASM[] = {\n${wasm}\n};\n")
write_header("${PARTS}" "${text}")
