# The polling cycle, the processing of one mail and the replies, with the
# mailbox and the sender as doubles; the end-to-end tests use real servers.
add_qt_test(tst_sequenceur SOURCES tst_sequenceur.cpp LIBS tramelon_core test_fake_mail)
add_qt_test(tst_launch SOURCES tst_launch.cpp LIBS kt_platform tramelon_core)
