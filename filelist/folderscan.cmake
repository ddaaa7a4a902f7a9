# The folder walk behind Add Folder, drops of folders and corvanta-join's folder PATHs: Qt Core only, no widgets.
add_library(corvanta_folderscan STATIC
    ${CMAKE_CURRENT_LIST_DIR}/folderscan.cpp ${CMAKE_CURRENT_LIST_DIR}/folderscan.h)
target_include_directories(corvanta_folderscan PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(corvanta_folderscan PUBLIC Qt6::Core PRIVATE corvanta_warnings)
