# tramelon_components: the POP3 session and the SMTP sender built on vmime,
# with the mail reader they share. Only these files see vmime's headers.
add_library(tramelon_components STATIC
    server_address.cpp server_address.h
    mail_html_text.cpp mail_html_text.h
    mail_parser.cpp mail_parser.h)
target_link_libraries(tramelon_components
    PUBLIC tramelon_core Qt6::Core
    PRIVATE PkgConfig::VMIME project_options)
