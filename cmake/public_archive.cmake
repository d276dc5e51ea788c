# public_archive.cmake - the installed static archive, libjpegcodec.a
# (target jpegcodec_static), included from the top-level CMakeLists.txt.
#
# An archive of the plain objects would carry every global name the codec
# uses between its own files (gEnv, DCTunzigzag, the quantizer tables...), and
# a host defining any of them could not link. So the objects of jpegcore are
# linked into one relocatable object, and in it every hidden name (all but
# the JPEG_API ones: the objects are built with hidden visibility) and every
# standard-library instance (what cmake/jpegcodec.map hides in the shared
# libraries) is made local. The archive then defines as global exactly what
# the shared libraries export.
set(JPEG_PUBLIC_OBJECT ${PROJECT_BINARY_DIR}/jpegcodec_public.o)
set(JPEG_LOCALIZED_PATTERNS _ZNSt* _ZNKSt* _ZSt* _ZTISt* _ZTSSt* _ZTVSt* _ZTTSt*
    _ZN9__gnu_cxx* _ZNK9__gnu_cxx*)
list(TRANSFORM JPEG_LOCALIZED_PATTERNS PREPEND --localize-symbol= OUTPUT_VARIABLE JPEG_LOCALIZE_ARGS)
add_custom_command(
  OUTPUT ${JPEG_PUBLIC_OBJECT}
  COMMAND ${CMAKE_LINKER} -r -o ${JPEG_PUBLIC_OBJECT} ${JPEG_OBJECTS}
  COMMAND ${CMAKE_OBJCOPY} --localize-hidden --wildcard ${JPEG_LOCALIZE_ARGS}
          --remove-section=.group ${JPEG_PUBLIC_OBJECT}
  DEPENDS jpegcore jpegframework $<$<TARGET_EXISTS:jpegbitops>:jpegbitops> ${JPEG_OBJECTS}
  COMMAND_EXPAND_LISTS VERBATIM
  COMMENT "Linking the archive's single object with its internal names made local")
set_source_files_properties(${JPEG_PUBLIC_OBJECT} PROPERTIES EXTERNAL_OBJECT ON GENERATED ON)

add_library(jpegcodec_static STATIC ${JPEG_PUBLIC_OBJECT})
set_target_properties(jpegcodec_static PROPERTIES OUTPUT_NAME jpegcodec LINKER_LANGUAGE CXX
                      ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
target_include_directories(jpegcodec_static PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/jpegcodec>)
target_link_libraries(jpegcodec_static INTERFACE stdc++ m)
