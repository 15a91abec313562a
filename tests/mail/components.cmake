# Tests of the mail reader and the server address parser.
add_qt_test(tst_mail_parser SOURCES tst_mail_parser.cpp LIBS tramelon_components LABELS mail)
add_qt_test(tst_mail_address SOURCES tst_mail_address.cpp LIBS tramelon_components LABELS mail)
