# The libraries of the Windows build. zlib is Debian's static mingw-w64 build; libspng and
# libimagequant have no mingw-w64 package, so their Debian source packages are fetched with
# `apt-get source` into the build folder and built here, static. The fetch goes through a private
# APT configuration with deb-src lines (tools/apt-source-config), or the APT_CONFIG of the
# environment when one is set; the system's APT sources stay as they are.
enable_language(C)

set(spng_version 0.7.3)
set(imagequant_version 2.17.0)
set(library_sources ${CMAKE_BINARY_DIR}/library-sources)
set(spng_dir ${library_sources}/libspng-${spng_version})
set(imagequant_dir ${library_sources}/libimagequant-${imagequant_version})

if(NOT EXISTS ${spng_dir}/spng/spng.c OR NOT EXISTS ${imagequant_dir}/libimagequant.c)
  find_program(apt_get apt-get REQUIRED)
  file(MAKE_DIRECTORY ${library_sources})
  message(STATUS "Fetching the libspng and libimagequant source packages")
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
  if(NOT fetched EQUAL 0 OR NOT EXISTS ${spng_dir} OR NOT EXISTS ${imagequant_dir})
    message(FATAL_ERROR "apt-get source could not fetch libspng ${spng_version} and "
                        "libimagequant ${imagequant_version} from Debian's source packages")
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
