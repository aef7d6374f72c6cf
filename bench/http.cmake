# The download tool that scripts/bench-http.sh runs next to curl.
add_executable(zo_http_get ${CMAKE_CURRENT_LIST_DIR}/http_get.cpp)
target_link_libraries(zo_http_get PRIVATE zohttp)
