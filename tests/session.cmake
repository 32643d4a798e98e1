# The window talking to a real listening socket on loopback, and once to the
# bundled unit emulator, whose path comes in LUMORA_EMULATOR.
lumora_add_test(tst_session SOURCES tst_session.cpp LIBS lumora_app Qt6::Network)
add_dependencies(tst_session lumora-7150r-unit)
lumora_add_test(tst_receive SOURCES tst_receive.cpp LIBS lumora_app Qt6::Network)
add_dependencies(tst_receive lumora-7150r-unit)
