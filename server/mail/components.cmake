# tramelon_components: the POP3 session and the SMTP sender built on vmime,
# with the mail reader they share. Only these files see vmime's headers.
add_library(tramelon_components STATIC
    server_address.cpp server_address.h
    mail_html_text.cpp mail_html_text.h
    mail_parser.cpp mail_parser.h
    mail_failure.h
    mail_call_runner.cpp mail_call_runner.h
    vmime_failure.cpp vmime_failure.h
    vmime_timeout.cpp vmime_timeout.h
    vmime_tracer.cpp vmime_tracer.h
    vmime_service.cpp vmime_service.h
    vmime_pop3_retrieve.cpp vmime_pop3_retrieve.h
    vmime_pop3_session.cpp vmime_pop3_session.h
    mail_reply_html.cpp mail_reply_html.h
    vmime_smtp_sender.cpp vmime_smtp_sender.h)
target_link_libraries(tramelon_components
    PUBLIC tramelon_core Qt6::Core
    PRIVATE PkgConfig::VMIME project_options)
