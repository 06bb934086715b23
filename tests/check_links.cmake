# Which libraries each process of the program loads, read from its files with
# ldd (every library it loads as it starts, the ones its libraries need
# included) and nm (what was linked into it whole: MuPDF is a static library):
#   the window (WINDOW)       no PDF library, no image library of the encoders
#   velloran-cli (CLI)        no PDF library, no Qt graphics library, no image
#                             library: its workers draw, write and read images
#   the worker (WORKER)       no PDF library, no Qt graphics library: a
#                             back-end's module brings its library
#   the modules (POPPLER_MODULE, MUPDF_MODULE)  each its own library alone
# cmake -DLDD=... -DNM=... -DWINDOW=... -DCLI=... -DWORKER=... -DPOPPLER_MODULE=...
#       [-DMUPDF_MODULE=...] -P check_links.cmake
set(failures "")

# Fails when the file loads a library whose name matches pattern.
function(refuse_library file pattern why)
    execute_process(COMMAND ${LDD} ${file} OUTPUT_VARIABLE loaded RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "ldd ${file} failed (${result})")
    endif()
    # "\tlibname.so.N => /path (0x...)": the names.
    string(REPLACE "\n" ";" lines "${loaded}")
    set(found "")
    foreach(line ${lines})
        string(STRIP "${line}" line)
        string(REGEX REPLACE "[ \t].*" "" name "${line}")
        if(name MATCHES "${pattern}")
            list(APPEND found ${name})
        endif()
    endforeach()
    if(found)
        list(JOIN found ", " found)
        set(failures "${failures}\n  ${file} loads ${found}: ${why}" PARENT_SCOPE)
    endif()
endfunction()

# Fails when MuPDF was linked into the file.
function(refuse_mupdf file why)
    execute_process(COMMAND ${NM} --defined-only ${file} OUTPUT_VARIABLE symbols ERROR_QUIET)
    if(symbols MATCHES " fz_new_context_imp\n")
        set(failures "${failures}\n  ${file} has MuPDF linked in: ${why}" PARENT_SCOPE)
    endif()
endfunction()

set(pdf_libraries "libpoppler|libmupdf")
set(encoder_libraries "libjpeg|libtiff|libwebp|libdeflate")
set(graphics "libQt6Gui")

refuse_library(${WINDOW} "${pdf_libraries}" "the window draws nothing; its worker does")
refuse_library(${CLI} "${encoder_libraries}" "velloran-cli writes and reads no image; its workers do")
refuse_library(${WINDOW} "${encoder_libraries}" "the window writes no image; its worker does")
refuse_mupdf(${WINDOW} "the window draws nothing")
foreach(file ${CLI} ${WORKER})
    refuse_library(${file} "${pdf_libraries}" "a back-end's library is loaded with its module, when it draws")
    refuse_library(${file} "${graphics}" "drawn pixels are PixelImages, in Qt Core")
    refuse_mupdf(${file} "MuPDF is the module velloran-mupdf's alone")
endforeach()
refuse_library(${POPPLER_MODULE} "libmupdf|${graphics}" "the Poppler module needs Poppler alone")
refuse_mupdf(${POPPLER_MODULE} "MuPDF is the module velloran-mupdf's alone")
if(MUPDF_MODULE)
    refuse_library(${MUPDF_MODULE} "libpoppler|${graphics}" "the MuPDF module needs MuPDF alone")
endif()

if(failures)
    message(FATAL_ERROR "processes load more than they need:${failures}")
endif()
