# utf8proc, for the character cuts: `quillmate_utf8proc` links it for the helper.
#
# The macOS helper must run on a Mac that has nothing but the system, so it links utf8proc's
# static archive, and its Unicode tables must be as new as the system's own count of
# user-perceived characters (Unicode 16, e.g. Indic conjuncts joined under rule GB9c). On Linux
# the same static link is an option, off by default so that distributions share the library.
option(QUILLMATE_STATIC_UTF8PROC "Link utf8proc statically into the helper" ${APPLE})
if(APPLE AND NOT QUILLMATE_STATIC_UTF8PROC)
  message(FATAL_ERROR "The macOS helper links no third-party dynamic library: "
    "configure without -DQUILLMATE_STATIC_UTF8PROC=OFF.")
endif()

pkg_check_modules(UTF8PROC REQUIRED libutf8proc)
add_library(quillmate_utf8proc INTERFACE)
target_include_directories(quillmate_utf8proc SYSTEM INTERFACE ${UTF8PROC_INCLUDE_DIRS})

if(NOT QUILLMATE_STATIC_UTF8PROC)
  target_link_libraries(quillmate_utf8proc INTERFACE ${UTF8PROC_LINK_LIBRARIES})
  return()
endif()

find_library(QUILLMATE_UTF8PROC_ARCHIVE NAMES libutf8proc.a
  HINTS ${UTF8PROC_LIBRARY_DIRS} ${UTF8PROC_LIBDIR})
if(NOT QUILLMATE_UTF8PROC_ARCHIVE)
  message(FATAL_ERROR "The helper links utf8proc statically, but no libutf8proc.a was found "
    "beside the libutf8proc that pkg-config names (${UTF8PROC_LIBRARY_DIRS}). Linking the "
    "dynamic library instead would make the helper need it on every user's machine. Install "
    "utf8proc's static archive, or point PKG_CONFIG_PATH at an installation that has one.")
endif()
target_link_libraries(quillmate_utf8proc INTERFACE ${QUILLMATE_UTF8PROC_ARCHIVE})
# Declares its functions for static use (needed on Windows, harmless elsewhere).
target_compile_definitions(quillmate_utf8proc INTERFACE UTF8PROC_STATIC)

if(APPLE)
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/utf8proc_unicode_version.c)
  file(WRITE ${probe} "#include <stdio.h>\n#include <utf8proc.h>\n"
    "int main(void) { puts(utf8proc_unicode_version()); return 0; }\n")
  try_run(run_result compile_result ${CMAKE_CURRENT_BINARY_DIR} ${probe}
    CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${UTF8PROC_INCLUDE_DIRS}"
    COMPILE_DEFINITIONS -DUTF8PROC_STATIC
    LINK_LIBRARIES ${QUILLMATE_UTF8PROC_ARCHIVE}
    RUN_OUTPUT_VARIABLE unicode_version)
  string(STRIP "${unicode_version}" unicode_version)
  if(NOT compile_result OR NOT run_result EQUAL 0 OR unicode_version VERSION_LESS 16)
    message(FATAL_ERROR "The macOS helper needs a utf8proc that implements Unicode 16 or later "
      "(utf8proc 2.10 or later), so that its character cuts match the system's; this one "
      "implements Unicode '${unicode_version}'.")
  endif()
endif()
