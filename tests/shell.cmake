lumora_add_test(tst_controls SOURCES tst_controls.cpp LIBS lumora_platform)
lumora_add_test(tst_shell SOURCES tst_shell.cpp LIBS lumora_app)
lumora_add_test(tst_ping_window SOURCES tst_ping_window.cpp LIBS lumora_app)
