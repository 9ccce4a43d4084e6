# RegOp: registry access for the scanner, over the platform's registry service.
add_library(qb_regop STATIC ${CMAKE_CURRENT_LIST_DIR}/RegOp.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/RegValue.cpp)
target_link_libraries(qb_regop PUBLIC qb_common qb_platform)
target_include_directories(qb_regop PUBLIC ${PROJECT_SOURCE_DIR})
