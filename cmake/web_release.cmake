# Turns a linked web page (STAGE: index.html, kiv.js, kiv.wasm, kiv.data,
# kiv.css, kiv-clock.js, kiv.webmanifest, sw.js) and the app's icons (ICONS)
# into the folder a host serves (OUT):
#
#   kiv.<hash>.js, kiv.<hash>.wasm, ...  every file but the page, the manifest
#                        and the service worker, named by the first 16 hex
#                        digits of its SHA-256: a host may let browsers keep
#                        them for ever, and a page never mixes two builds
#   index.html           the page, naming those files
#   kiv.webmanifest      the app's manifest, naming its icons
#   kiv-sw.js            the service worker, with this build's version (a hash
#                        of all the others) and its list of files
#   kiv.<hash>.js.gz, kiv.<hash>.js.br, ...  each content-named file compressed
#                        with gzip and (where the brotli command is installed)
#                        brotli, where that makes it smaller: for hosts that
#                        send them to browsers that take them
#
# Files of earlier builds are removed from OUT.
#   cmake -DSTAGE=DIR -DICONS=DIR -DOUT=DIR -P web_release.cmake
cmake_minimum_required(VERSION 3.21)
foreach(var STAGE ICONS OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "web_release.cmake needs -D${var}=DIR")
  endif()
endforeach()

set(names "")
set(kept index.html kiv.webmanifest kiv-sw.js)
# Copies `from` into OUT under its content's name.
function(add_hashed name from)
  file(SHA256 ${from} hash)
  string(SUBSTRING ${hash} 0 16 hash)
  string(REGEX REPLACE "^([^.]*)\\.(.*)$" "\\1.${hash}.\\2" hashed ${name})
  if(NOT EXISTS ${OUT}/${hashed})
    file(COPY_FILE ${from} ${OUT}/${hashed})
  endif()
  set(hashed_${name} ${hashed} PARENT_SCOPE)
  set(names ${names} ${name} PARENT_SCOPE)
  set(kept ${kept} ${hashed} PARENT_SCOPE)
endfunction()
# Every quoted plain name in a text becomes its hashed name.
function(hash_names text out)
  foreach(name ${names})
    string(REPLACE "\"${name}\"" "\"${hashed_${name}}\"" text "${text}")
    string(REPLACE "'${name}'" "'${hashed_${name}}'" text "${text}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(GLOB icons RELATIVE ${ICONS} ${ICONS}/*.png)
list(SORT icons)
foreach(name ${icons})
  add_hashed(${name} ${ICONS}/${name})
endforeach()
foreach(name kiv.wasm kiv.data kiv.css kiv-clock.js)
  add_hashed(${name} ${STAGE}/${name})
endforeach()

# The loader asks for the files above by name; and the linker draws a new
# identifier for the data package every time: the data's own hash stands in
# for it, so that the same sources make the same files (and no new version
# for browsers to fetch).
file(READ ${STAGE}/kiv.js loader)
foreach(name kiv.wasm kiv.data kiv-clock.js)
  string(FIND "${loader}" "\"${name}\"" double)
  string(FIND "${loader}" "'${name}'" single)
  if(double EQUAL -1 AND single EQUAL -1)
    message(FATAL_ERROR "web_release.cmake: kiv.js does not name ${name}")
  endif()
endforeach()
hash_names("${loader}" loader)
file(SHA256 ${STAGE}/kiv.data data_hash)
string(REGEX REPLACE "\"package_uuid\":\"[^\"]*\"" "\"package_uuid\":\"${data_hash}\"" loader "${loader}")
file(WRITE ${STAGE}/kiv.release.js "${loader}")
add_hashed(kiv.js ${STAGE}/kiv.release.js)

file(READ ${STAGE}/index.html page)
hash_names("${page}" page)
file(READ ${STAGE}/kiv.webmanifest manifest)
hash_names("${manifest}" manifest)

set(version_text "")
set(list_js "")
foreach(name ${names})
  string(APPEND version_text "${hashed_${name}}\n")
  # The worker keeps what the page loads; the browser takes the manifest's
  # larger icons itself when it installs the app.
  if(NOT name IN_LIST icons OR name STREQUAL "kiv-192.png")
    string(APPEND list_js "'${hashed_${name}}', ")
  endif()
endforeach()
string(REGEX REPLACE ", $" "" list_js "${list_js}")
string(SHA256 version "${version_text}")
string(SUBSTRING ${version} 0 16 version)
file(READ ${STAGE}/sw.js worker)
string(REPLACE "'@KIV_VERSION@'" "'${version}'" worker "${worker}")
string(REPLACE "/* @KIV_FILES@ */" "${list_js}" worker "${worker}")

# Written only when changed, so that a host's validators stay as they were.
foreach(pair "index.html;page" "kiv.webmanifest;manifest" "kiv-sw.js;worker")
  list(GET pair 0 file)
  list(GET pair 1 var)
  set(old "")
  if(EXISTS ${OUT}/${file})
    file(READ ${OUT}/${file} old)
  endif()
  if(NOT old STREQUAL "${${var}}")
    file(WRITE ${OUT}/${file}.new "${${var}}")
    file(RENAME ${OUT}/${file}.new ${OUT}/${file})
  endif()
endforeach()

# The compressed forms, made once like the files themselves; one no smaller
# than its file (a picture) is not kept.
find_program(KIV_GZIP gzip)
find_program(KIV_BROTLI brotli)
if(NOT KIV_GZIP)
  message(FATAL_ERROR "web_release.cmake needs gzip")
endif()
foreach(name ${names})
  set(file ${OUT}/${hashed_${name}})
  file(SIZE ${file} size)
  foreach(form "gz;${KIV_GZIP};-9;-n" "br;${KIV_BROTLI};-q;11")
    list(POP_FRONT form suffix tool)
    if(NOT tool)
      continue()
    endif()
    if(NOT EXISTS ${file}.${suffix})
      execute_process(COMMAND ${tool} ${form} -c ${file} OUTPUT_FILE ${file}.${suffix}.new RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "web_release.cmake: ${tool} failed on ${file}")
      endif()
      file(SIZE ${file}.${suffix}.new packed)
      if(packed LESS size)
        file(RENAME ${file}.${suffix}.new ${file}.${suffix})
      else()
        file(REMOVE ${file}.${suffix}.new)
      endif()
    endif()
    list(APPEND kept ${hashed_${name}}.${suffix})
  endforeach()
endforeach()

file(GLOB present RELATIVE ${OUT} ${OUT}/*)
foreach(name ${present})
  if(NOT name IN_LIST kept AND NOT IS_DIRECTORY ${OUT}/${name})
    file(REMOVE ${OUT}/${name})
  endif()
endforeach()
