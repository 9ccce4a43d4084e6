# The Outlook Express identity with its store root, blocked-senders list and
# POP accounts, over RegOp.
add_library(qb_oe_identity STATIC ${CMAKE_CURRENT_LIST_DIR}/OEIdentity.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/OEBlockedList.cpp)
target_link_libraries(qb_oe_identity PUBLIC qb_regop qb_lists qb_common qb_platform)
target_include_directories(qb_oe_identity PUBLIC ${PROJECT_SOURCE_DIR})
