# Ping test: the tick logic against a fake echo service, and the system's ICMP
# layer against loopback and network namespaces of the test's own.
# testsupport.h pulls in QApplication, hence Qt6::Widgets.
lumora_add_test(tst_ping_tick SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ping_tick.cpp
  LIBS lumora_ping lumora_platform_icmp Qt6::Widgets)
lumora_add_test(tst_icmp SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_icmp.cpp
  LIBS lumora_ping lumora_platform_icmp Qt6::Widgets)

# The same source built as the program that tst_icmp starts for every case that
# needs a network namespace: it enters a new one, prepares it, runs one echo
# and prints the outcome.
add_executable(tst_icmp_netns_helper ${CMAKE_CURRENT_LIST_DIR}/tst_icmp.cpp)
set_target_properties(tst_icmp_netns_helper PROPERTIES AUTOMOC OFF)
target_compile_definitions(tst_icmp_netns_helper PRIVATE LUMORA_ICMP_NETNS_HELPER)
target_include_directories(tst_icmp_netns_helper PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tst_icmp_netns_helper PRIVATE lumora_platform_icmp)
add_dependencies(tst_icmp tst_icmp_netns_helper)
target_compile_definitions(tst_icmp PRIVATE
  LUMORA_ICMP_NETNS_HELPER_PATH="$<TARGET_FILE:tst_icmp_netns_helper>")
