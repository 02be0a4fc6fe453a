# SPDX-License-Identifier: MIT
# Font registration cost; included from bench/CMakeLists.txt.
bondara_find_qt(Gui)
add_executable(bench_font bench_font.cpp)
target_link_libraries(bench_font PRIVATE bondara_resources Qt::Gui)
bondara_room_headers(bench_font PRIVATE bench)
target_compile_definitions(bench_font PRIVATE BONDARA_FULL_FONT="${BONDARA_FULL_FONT}")
add_dependencies(bench_font bondara_full_font)
