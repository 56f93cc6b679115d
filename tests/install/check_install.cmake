# Installs the build into a fresh prefix, checks the installed layout and the shared codec's
# exported interface, then builds a consumer of the installed codec once through pkg-config and
# once through find_package(MeshwickJpeg); each must decode SAMPLE (WIDTH x HEIGHT).
#
# Variables: BUILD_DIR, WORK_DIR, CONSUMER_DIR, SAMPLE, WIDTH, HEIGHT, CXX, GENERATOR, LIBDIR,
# SOVERSION, APP (the app was built), SANITIZE (the build is instrumented).
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    string(JOIN " " command ${ARGN})
    message(FATAL_ERROR "failed (${result}): ${command}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(library ${prefix}/${LIBDIR}/libmeshwick-jpeg.so)
set(expected
    bin/meshwick-jpeg
    ${LIBDIR}/libmeshwick-jpeg.so
    ${LIBDIR}/libmeshwick-jpeg.so.${SOVERSION}
    include/meshwick/jpeg.h
    include/meshwick/jpeg_region.h
    ${LIBDIR}/pkgconfig/meshwick-jpeg.pc
    ${LIBDIR}/cmake/MeshwickJpeg/MeshwickJpegConfig.cmake
    ${LIBDIR}/cmake/MeshwickJpeg/MeshwickJpegConfigVersion.cmake
    share/man/man1/meshwick-jpeg.1)
if(APP)
  list(APPEND expected bin/meshwick share/applications/meshwick.desktop
       share/icons/hicolor/scalable/apps/meshwick.svg)
endif()
foreach(file IN LISTS expected)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The versioned SONAME, and no symbol beyond the caller interface.
run(readelf -d ${library})
if(NOT run_output MATCHES "Library soname: \\[libmeshwick-jpeg\\.so\\.${SOVERSION}\\]")
  message(FATAL_ERROR "SONAME is not libmeshwick-jpeg.so.${SOVERSION}:\n${run_output}")
endif()
run(nm -D --defined-only -C ${library})
string(REGEX MATCHALL "[0-9a-f]+ [TtWwDdBbRrVv] [^\n(]+" exported "${run_output}")
list(TRANSFORM exported REPLACE "^[0-9a-f]+ . " "")
list(REMOVE_DUPLICATES exported)
list(SORT exported)
set(interface blockPlaneSize clearRegionRead jpegErrorString jpegFree jpegGetVersion jpegInit jpegRead jpegWrite
              prepareRegionRead)
if(NOT exported STREQUAL interface)
  message(FATAL_ERROR "exported symbols: ${exported}\nexpected: ${interface}")
endif()

if(APP)
  find_program(desktop_file_validate desktop-file-validate)
  if(desktop_file_validate)
    run(${desktop_file_validate} ${prefix}/share/applications/meshwick.desktop)
  endif()
endif()

set(sanitizer_flags "")
if(SANITIZE)
  set(sanitizer_flags -fsanitize=address,undefined)
endif()

# Through pkg-config.
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig pkg-config --cflags --libs meshwick-jpeg)
separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
run(${CXX} -std=c++20 ${sanitizer_flags} ${CONSUMER_DIR}/consumer.cpp ${pc_flags} -Wl,-rpath,${prefix}/${LIBDIR}
    -o ${WORK_DIR}/consumer-pkg-config)
run(${WORK_DIR}/consumer-pkg-config ${SAMPLE} ${WIDTH} ${HEIGHT})

# Through the CMake package.
string(JOIN " " cmake_flags ${sanitizer_flags})
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer-cmake -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${cmake_flags}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer-cmake)
run(${WORK_DIR}/consumer-cmake/consumer ${SAMPLE} ${WIDTH} ${HEIGHT})
message(STATUS "installed layout and both consumers fine")
