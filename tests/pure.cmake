# Widget-free logic: frames, reply decoding, text conversions and the event log.
# testsupport.h pulls in QApplication, hence Qt6::Widgets.
lumora_add_test(tst_command_frame SOURCES tst_command_frame.cpp LIBS lumora_protocol Qt6::Widgets)
lumora_add_test(tst_status_reply SOURCES tst_status_reply.cpp LIBS lumora_protocol Qt6::Widgets)
lumora_add_test(tst_conversions SOURCES tst_conversions.cpp LIBS lumora_link Qt6::Widgets)
lumora_add_test(tst_time_stamp SOURCES tst_time_stamp.cpp LIBS lumora_log Qt6::Widgets)
lumora_add_test(tst_daily_log SOURCES tst_daily_log.cpp LIBS lumora_log Qt6::Widgets)
lumora_add_test(tst_log_list_model SOURCES tst_log_list_model.cpp LIBS lumora_log Qt6::Widgets)
