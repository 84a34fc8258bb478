# Helper programs of bench/compare.py: the test-set maker and the in-process codec floor.
find_library(TESSARY_GIF_LIBRARY gif REQUIRED)
add_executable(bench_make_frames bench_make_frames.cpp)
target_link_libraries(bench_make_frames PRIVATE JPEG::JPEG ${TESSARY_GIF_LIBRARY} tessary_warnings)
add_executable(bench_codec_floor bench_codec_floor.cpp)
target_link_libraries(bench_codec_floor PRIVATE JPEG::JPEG tessary_warnings)
