# minizip for the Windows build, which has no minizip package to link: its
# zip.c, unzip.c and ioapi.c are compiled from contrib/minizip of the Debian
# zlib source package, fetched at configure time into the build tree (never
# into the source tree), and linked with the static zlib of
# libz-mingw-w64-dev.  Defines kvq_minizip, whose users include
# <minizip/zip.h> and <minizip/unzip.h> as on Linux.
#
#   KVQ_ZLIB_SOURCE   the zlib orig tarball, or an unpacked zlib source tree,
#                     to build from without downloading anything.
set(KVQ_ZLIB_SOURCE "" CACHE PATH
    "zlib orig tarball or unpacked source tree holding contrib/minizip (empty: download it with apt-get source)")
# The tarball of Debian 12's zlib 1:1.2.13.dfsg-1, which this build is tested with.
set(KVQ_ZLIB_SHA256 71feb7947e3c00ef125f83b79a4e529bde31171e5babe48b391f06758d1ab0a1)

set(zlib_download ${CMAKE_BINARY_DIR}/_deps/zlib-download)
set(zlib_unpacked ${CMAKE_BINARY_DIR}/_deps/zlib-src)

if(KVQ_ZLIB_SOURCE AND IS_DIRECTORY "${KVQ_ZLIB_SOURCE}")
  set(zlib_root "${KVQ_ZLIB_SOURCE}")
else()
  set(zlib_tarball "${KVQ_ZLIB_SOURCE}")
  if(NOT zlib_tarball)
    file(GLOB zlib_tarball ${zlib_download}/zlib_*.orig.tar.*)
  endif()
  if(NOT zlib_tarball)
    message(STATUS "minizip: downloading the zlib source package (apt-get source)")
    file(MAKE_DIRECTORY ${zlib_download})
    execute_process(
      COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/fetch-zlib-source.sh ${zlib_download}
      RESULT_VARIABLE fetch_status OUTPUT_VARIABLE zlib_tarball ERROR_VARIABLE fetch_errors
      OUTPUT_STRIP_TRAILING_WHITESPACE TIMEOUT 300)
    if(NOT fetch_status EQUAL 0 OR NOT EXISTS "${zlib_tarball}")
      message(FATAL_ERROR
        "minizip: the zlib source package could not be downloaded (${fetch_status}):\n${fetch_errors}\n"
        "To build offline, give a copy of it: -DKVQ_ZLIB_SOURCE=/path/to/zlib_1.2.13.dfsg.orig.tar.bz2 "
        "(or an unpacked zlib source tree holding contrib/minizip).")
    endif()
  endif()
  if(NOT EXISTS "${zlib_tarball}")
    message(FATAL_ERROR "minizip: KVQ_ZLIB_SOURCE names no file or directory: ${zlib_tarball}")
  endif()
  file(SHA256 "${zlib_tarball}" zlib_sum)
  if(NOT zlib_sum STREQUAL KVQ_ZLIB_SHA256)
    message(WARNING "minizip: ${zlib_tarball} is not the zlib tarball this build was tested with (sha256 ${zlib_sum})")
  endif()
  # Unpacked again only when the tarball changes.
  if(NOT EXISTS ${zlib_unpacked}/${zlib_sum})
    file(REMOVE_RECURSE ${zlib_unpacked})
    file(ARCHIVE_EXTRACT INPUT "${zlib_tarball}" DESTINATION ${zlib_unpacked} PATTERNS "*/contrib/minizip/*")
    file(TOUCH ${zlib_unpacked}/${zlib_sum})
  endif()
  file(GLOB zlib_root LIST_DIRECTORIES true ${zlib_unpacked}/zlib-*)
endif()

set(minizip_dir "${zlib_root}/contrib/minizip")
foreach(file zip.c unzip.c ioapi.c)
  if(NOT EXISTS "${minizip_dir}/${file}")
    message(FATAL_ERROR "minizip: ${minizip_dir}/${file} is missing")
  endif()
endforeach()

# The import library libz.dll.a would make every program need zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
add_library(kvq_minizip STATIC ${minizip_dir}/zip.c ${minizip_dir}/unzip.c ${minizip_dir}/ioapi.c)
target_include_directories(kvq_minizip SYSTEM PUBLIC "${zlib_root}/contrib")
target_include_directories(kvq_minizip PRIVATE "${minizip_dir}")
target_link_libraries(kvq_minizip PUBLIC ZLIB::ZLIB)
# Code from elsewhere: the project's warning flags (and -Werror) stay off it.
target_compile_options(kvq_minizip PRIVATE -w)
message(STATUS "minizip: ${minizip_dir}, zlib ${ZLIB_LIBRARIES}")
