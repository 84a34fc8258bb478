# Codec benchmarks: the GIF and JPEG readers against giflib and a bare libjpeg
# decode of the same files. giflib is linked here only, never by the product.
find_package(benchmark REQUIRED)
find_path(GIFLIB_INCLUDE_DIR gif_lib.h REQUIRED)
find_library(GIFLIB_LIBRARY gif REQUIRED)
add_executable(codecs_bench ${CMAKE_CURRENT_LIST_DIR}/codecs_bench.cpp)
target_include_directories(codecs_bench PRIVATE ${GIFLIB_INCLUDE_DIR})
target_link_libraries(codecs_bench PRIVATE tessary_image ${GIFLIB_LIBRARY} benchmark::benchmark
                                           tessary_warnings)
