# Joins the page's sources into one self-contained VarnholtUI.html: the web
# views are handed the page as one string, so nothing may load from beside it.
# The scripts share one scope inside the template's function, in the order given.
#
#   cmake -DUI=<ui folder> -DSCRIPTS=<a.js,b.js,...> -DOUT=<file,file,...> -P build-page.cmake

foreach(var UI SCRIPTS OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build-page: -D${var}= is missing")
  endif()
endforeach()

# One insertion point, or the page would come out half-built without a word.
function(insert_at marker text)
  string(FIND "${page}" "${marker}" at)
  string(FIND "${page}" "${marker}" last REVERSE)
  if(at EQUAL -1 OR NOT at EQUAL last)
    message(FATAL_ERROR "build-page: page.html needs exactly one line ${marker}")
  endif()
  string(REPLACE "${marker}" "${text}" page "${page}")
  set(page "${page}" PARENT_SCOPE)
endfunction()

# Text that would end the inline element early.
function(refuse_closing file text tag)
  string(TOLOWER "${text}" lower)
  string(FIND "${lower}" "</${tag}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "build-page: ${file} holds </${tag}, which would end the page's <${tag}> early")
  endif()
endfunction()

file(READ "${UI}/page.html" page)
file(READ "${UI}/page.css" css)
refuse_closing(page.css "${css}" style)

set(js "")
string(REPLACE "," ";" scripts "${SCRIPTS}")
foreach(name IN LISTS scripts)
  file(READ "${UI}/js/${name}" text)
  refuse_closing(${name} "${text}" script)
  if(NOT js STREQUAL "")
    string(APPEND js "\n")
  endif()
  string(APPEND js "${text}")
endforeach()

insert_at("\n@css\n" "\n${css}")
insert_at("\n@scripts\n" "\n${js}")

string(REPLACE "," ";" outs "${OUT}")
foreach(out IN LISTS outs)
  file(WRITE "${out}" "${page}")
endforeach()
