# The libraries of the Windows build. zlib is Debian's static mingw-w64 build; libspng,
# libimagequant and libcdio (for libiso9660) have no mingw-w64 package, so their Debian
# source packages are fetched with `apt-get source` into the build folder and built, static:
# libspng and libimagequant here, libcdio with its own configure script, at build time. The fetch goes through a private
# APT configuration with deb-src lines (tools/apt-source-config), or the APT_CONFIG of the
# environment when one is set; the system's APT sources stay as they are.
enable_language(C)

set(spng_version 0.7.3)
set(imagequant_version 2.17.0)
set(library_sources ${CMAKE_BINARY_DIR}/library-sources)
set(spng_dir ${library_sources}/libspng-${spng_version})
set(imagequant_dir ${library_sources}/libimagequant-${imagequant_version})
set(cdio_version 2.1.0)
set(cdio_tarball ${library_sources}/libcdio_${cdio_version}.orig.tar.bz2)

if(NOT EXISTS ${spng_dir}/spng/spng.c OR NOT EXISTS ${imagequant_dir}/libimagequant.c
   OR NOT EXISTS ${cdio_tarball})
  find_program(apt_get apt-get REQUIRED)
  file(MAKE_DIRECTORY ${library_sources})
  message(STATUS "Fetching the libspng, libimagequant and libcdio source packages")
  if(NOT DEFINED ENV{APT_CONFIG})
    execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tools/apt-source-config ${CMAKE_BINARY_DIR}/apt
                    OUTPUT_VARIABLE apt_config OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE configured)
    if(NOT configured EQUAL 0)
      message(FATAL_ERROR "tools/apt-source-config could not refresh the source package lists")
    endif()
    set(ENV{APT_CONFIG} ${apt_config})
  endif()
  execute_process(COMMAND ${apt_get} source -q -o APT::Sandbox::User=root --only-source libspng libimagequant
                  WORKING_DIRECTORY ${library_sources}
                  RESULT_VARIABLE fetched OUTPUT_QUIET)
  # libcdio's upstream tarball alone: its Debian changes touch only the packaging.
  execute_process(COMMAND ${apt_get} source -q --tar-only -o APT::Sandbox::User=root --only-source libcdio
                  WORKING_DIRECTORY ${library_sources}
                  RESULT_VARIABLE fetched_cdio OUTPUT_QUIET)
  if(NOT fetched EQUAL 0 OR NOT fetched_cdio EQUAL 0 OR NOT EXISTS ${spng_dir}
     OR NOT EXISTS ${imagequant_dir} OR NOT EXISTS ${cdio_tarball})
    message(FATAL_ERROR "apt-get source could not fetch libspng ${spng_version}, libimagequant "
                        "${imagequant_version} and libcdio ${cdio_version} from Debian's source packages")
  endif()
endif()

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

add_library(spng STATIC ${spng_dir}/spng/spng.c)
target_include_directories(spng SYSTEM PUBLIC ${spng_dir}/spng)
target_compile_definitions(spng PUBLIC SPNG_STATIC)
target_compile_options(spng PRIVATE -w)
target_link_libraries(spng PUBLIC ZLIB::ZLIB)

# OpenMP off: the library's own build turns it on only when the compiler offers it.
add_library(imagequant STATIC
  ${imagequant_dir}/libimagequant.c ${imagequant_dir}/blur.c ${imagequant_dir}/mediancut.c
  ${imagequant_dir}/mempool.c ${imagequant_dir}/nearest.c ${imagequant_dir}/pam.c
  ${imagequant_dir}/kmeans.c)
target_include_directories(imagequant SYSTEM PUBLIC ${imagequant_dir})
target_compile_definitions(imagequant PRIVATE USE_SSE=1)
target_compile_options(imagequant PRIVATE -w -std=c99)

# nlohmann-json is header-only: the native header serves, without the rest of /usr/include.
find_path(json_include nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(json_forward ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${json_forward})
file(CREATE_LINK ${json_include}/nlohmann ${json_forward}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${json_forward})

# libiso9660 over libcdio's core, without its programs, drive access or iconv.
include(ExternalProject)
set(cdio_prefix ${CMAKE_BINARY_DIR}/libcdio)
ExternalProject_Add(cdio_build
  URL ${cdio_tarball}
  PREFIX ${cdio_prefix}
  CONFIGURE_COMMAND <SOURCE_DIR>/configure --host=${mingw_triplet} --prefix=<INSTALL_DIR>
                    CC=${CMAKE_C_COMPILER} --disable-shared --enable-static --disable-cxx
                    --disable-example-progs --without-cd-drive --without-cd-info
                    --without-cdda-player --without-cd-read --without-iso-info
                    --without-iso-read --disable-cddb --disable-vcd-info -q
  BUILD_COMMAND make -C lib
  INSTALL_COMMAND make -C lib install COMMAND make -C include install
  BUILD_BYPRODUCTS <INSTALL_DIR>/lib/libiso9660.a <INSTALL_DIR>/lib/libcdio.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON)
file(MAKE_DIRECTORY ${cdio_prefix}/include)
add_library(iso9660 INTERFACE)
add_dependencies(iso9660 cdio_build)
target_include_directories(iso9660 SYSTEM INTERFACE ${cdio_prefix}/include)
target_link_libraries(iso9660 INTERFACE ${cdio_prefix}/lib/libiso9660.a ${cdio_prefix}/lib/libcdio.a
                      winmm)  # libcdio's drive access, which kelp never calls, links with it
