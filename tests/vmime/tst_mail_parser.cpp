// parse_mail and html_to_text on mails as real mail programs write them.
#include "server/mail/reply_policy.h"
#include "server/vmime/mail_html_text.h"
#include "server/vmime/mail_parser.h"

#include <QFile>
#include <QTest>

namespace {

QByteArray readData(const QString &name)
{
    QFile file(QStringLiteral(TEST_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test mail %s", qPrintable(name));
    return file.readAll();
}

} // namespace

class TestMailParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fields_data();
    void fields();
    void automatic_data();
    void automatic();
    void senderAddress_data();
    void senderAddress();
    void rawSubject_data();
    void rawSubject();
    void noReply_data();
    void noReply();
    void htmlPartOfAlternative();
    void malformedGivesWhatCanBeRead();
    void garbageNeverThrows_data();
    void garbageNeverThrows();
    void htmlToText_data();
    void htmlToText();
    void authenticationResults_data();
    void authenticationResults();
};

void TestMailParser::fields_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("body");

    QTest::newRow("plain ascii") << "plain_ascii.eml"
                                 << "Actions"
                                 << "alice@example.org"
                                 << "Commande: run.bat;\r\nCode: AB12CD34EF56;\r\n"
                                    ".a line that starts with a dot\r\n..and one with two\r\n.\r\n";
    QTest::newRow("utf-8 quoted-printable, soft breaks")
        << "utf8_quoted_printable.eml" << QString::fromUtf8("Résultat du jour")
        << "francois@example.fr"
        << QString::fromUtf8("Bonjour, voici une ligne assez longue pour que le programme de "
                             "messagerie la coupe avec un saut de ligne doux, puis des "
                             "caractères accentués : été €.\r\nCommande: sauvegarde.bat;\r\n");
    QTest::newRow("base64 utf-8") << "base64_utf8.eml" << QString::fromUtf8("Grüße")
                                  << "juergen@example.de"
                                  << QString::fromUtf8(
                                         "Grüße aus Köln.\r\nZweite Zeile: ½ € ✓\r\n");
    QTest::newRow("mixed > alternative: plain part, not the attachment")
        << "alternative_html.eml"
        << "Actions"
        << "bob@example.com"
        << "Commande: run.bat;\r\nCode: ZZ99YY88XX77;"; // the last CR LF belongs to the boundary
    QTest::newRow("html only") << "html_only.eml"
                               << "Only HTML"
                               << "carla@example.it"
                               << QString::fromUtf8("Commande: run.bat;\r\n\r\nCode: QQ11 WW22;\r\n"
                                                    "Fish & chips <3 été €\r\nfin\r\n");
    QTest::newRow("iso-8859-1") << "latin1.eml" << QString::fromUtf8("Café crème")
                                << "helene@example.fr"
                                << QString::fromUtf8("Un café crème, s'il vous plaît.\r\n");
    QTest::newRow("encoded subject, Sender instead of From")
        << "encoded_subject.eml"
        << "Actions"
        << "relay-user@example.net"
        << "Commande: run.bat;\r\nCode: AAAA1111BBBB;\r\n";
    QTest::newRow("blanks kept, Return-Path as sender") << "subject_blanks.eml"
                                                        << " Actions "
                                                        << "dave@example.net"
                                                        << "Commande: run.bat;\r\n";
}

void TestMailParser::fields()
{
    QFETCH(QString, file);
    QFETCH(QString, subject);
    QFETCH(QString, sender);
    QFETCH(QString, body);

    const QByteArray raw = readData(file);
    const Pop3Message mail = parse_mail(raw);
    QCOMPARE(mail.Subject, subject);
    QCOMPARE(mail.Sender.Address, sender);
    QCOMPARE(mail.Body, body);
    QCOMPARE(mail.Raw, raw);
    QVERIFY(!mail.Automatic);
}

void TestMailParser::automatic_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("automatic");

    QTest::newRow("auto-replied") << readData("auto_reply.eml") << true;
    QTest::newRow("precedence bulk, auto-submitted no") << readData("list_mail.eml") << true;
    QTest::newRow("bounce: report, empty return path") << readData("bounce.eml") << true;
    QTest::newRow("person") << readData("plain_ascii.eml") << false;
    QTest::newRow("auto-submitted no")
        << QByteArray("From: a@b.c\r\nAuto-Submitted: No\r\n\r\nx\r\n") << false;
    QTest::newRow("auto-generated with comment")
        << QByteArray(
               "From: a@b.c\r\nAuto-Submitted: auto-generated; owner-email=\"x@y\"\r\n\r\nx\r\n")
        << true;
    QTest::newRow("precedence junk")
        << QByteArray("From: a@b.c\r\nPrecedence: JUNK\r\n\r\nx\r\n") << true;
    QTest::newRow("precedence list")
        << QByteArray("From: a@b.c\r\nPrecedence: list\r\n\r\nx\r\n") << true;
    QTest::newRow("precedence first-class")
        << QByteArray("From: a@b.c\r\nPrecedence: first-class\r\n\r\nx\r\n") << false;
    QTest::newRow("empty return path with blank")
        << QByteArray("Return-Path: < >\r\nFrom: a@b.c\r\n\r\nx\r\n") << true;
    QTest::newRow("header only in body")
        << QByteArray("From: a@b.c\r\n\r\nAuto-Submitted: auto-replied\r\n") << false;
    const auto with = [](const char *header) {
        return QByteArray("From: a@b.c\r\n") + header + "\r\n\r\nx\r\n";
    };
    QTest::newRow("list-id") << with("List-Id: <devs.lists.example.org>") << true;
    QTest::newRow("list-unsubscribe") << with("List-Unsubscribe: <mailto:u@x.org>") << true;
    QTest::newRow("x-autoreply") << with("X-Autoreply: yes") << true;
    QTest::newRow("x-autorespond") << with("X-Autorespond: vacation") << true;
    QTest::newRow("suppress oof") << with("X-Auto-Response-Suppress: DR, OOF") << true;
    QTest::newRow("suppress all") << with("X-Auto-Response-Suppress: All") << true;
    QTest::newRow("suppress autoreply") << with("X-Auto-Response-Suppress: AutoReply") << true;
    QTest::newRow("suppress rn only") << with("X-Auto-Response-Suppress: RN, NRN") << false;
    QTest::newRow("mailer-daemon, return path kept")
        << QByteArray("Return-Path: <MAILER-DAEMON@mx.example.org>\r\n"
                      "From: Mail Delivery System <MAILER-DAEMON@mx.example.org>\r\n\r\nx\r\n")
        << true;
    QTest::newRow("postmaster") << QByteArray("From: postmaster@example.org\r\n\r\nx\r\n") << true;
}

void TestMailParser::automatic()
{
    QFETCH(QByteArray, raw);
    QFETCH(bool, automatic);
    const Pop3Message mail = parse_mail(raw);
    QCOMPARE(mail.Automatic, automatic);
    // The log names what gave the mail away.
    QCOMPARE(mail.AutomaticReason.isEmpty(), !automatic);
}

void TestMailParser::senderAddress_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QString>("address"); // empty: no reply
    QTest::addColumn<QString>("reason");  // part of the reason when empty

    QTest::newRow("display name") << QByteArray("Alice Martin <alice@example.org>")
                                  << "alice@example.org"
                                  << "";
    QTest::newRow("comment") << QByteArray("alice@example.org (Alice)") << "alice@example.org"
                             << "";
    QTest::newRow("encoded display name, comma in quotes")
        << QByteArray("=?utf-8?q?Jos=C3=A9?= \"Ruiz, J\" <jose@example.es>") << "jose@example.es"
        << "";
    QTest::newRow("quoted local part kept whole")
        << QByteArray("\"v1@a.io;v2@b.io;v3@c.io;x\"@example.org")
        << R"("v1@a.io;v2@b.io;v3@c.io;x"@example.org)"
        << "";
    QTest::newRow("needless quotes dropped")
        << QByteArray("<\"bob\"@example.org>") << "bob@example.org"
        << "";
    QTest::newRow("first of a list")
        << QByteArray("a@example.org, b@example.org") << "a@example.org"
        << "";
    QTest::newRow("idn domain") << QByteArray("<ana@caf\xc3\xa9"
                                              ".example>")
                                << "ana@xn--caf-dma.example"
                                << "";
    QTest::newRow("encoded word as address") << QByteArray("=?utf-8?q?a@vm?=") << ""
                                             << "RFC 2047";
    QTest::newRow("domain without dot") << QByteArray("a@vm") << ""
                                        << "domaine";
    QTest::newRow("invalid domain") << QByteArray("x <invalid@invalid>") << ""
                                    << "domaine";
    QTest::newRow("display name only") << QByteArray("Alice") << ""
                                       << "non valide";
    QTest::newRow("empty angle") << QByteArray("<>") << ""
                                 << "aucune adresse";
    QTest::newRow("unclosed quote") << QByteArray("\"a@b.org") << ""
                                    << "non valide";
}

void TestMailParser::senderAddress()
{
    QFETCH(QByteArray, from);
    QFETCH(QString, address);
    QFETCH(QString, reason);

    const Pop3Message mail = parse_mail("From: " + from + "\r\nSubject: x\r\n\r\nbody\r\n");
    QCOMPARE(mail.Sender.Address, address);
    if (address.isEmpty())
        QVERIFY2(mail.NoAddressReason.contains(reason), qPrintable(mail.NoAddressReason));
}

void TestMailParser::rawSubject_data()
{
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QString>("expected");

    QTest::newRow("raw utf-8") << QByteArray("R\xc3\xa9union d\xc3\xa9"
                                             "cal\xc3\xa9"
                                             "e")
                               << QString::fromUtf8("Réunion décalée");
    QTest::newRow("raw latin-1") << QByteArray("R\xe9union  d\xe9"
                                               "cal\xe9"
                                               "e ")
                                 << QString::fromUtf8("Réunion  décalée ");
    QTest::newRow("words joined, text around kept")
        << QByteArray("Re: =?utf-8?q?R=C3=A9?= =?iso-8859-1?q?union?=  x")
        << QString::fromUtf8("Re: Réunion  x");
}

void TestMailParser::rawSubject()
{
    QFETCH(QByteArray, subject);
    QFETCH(QString, expected);
    QCOMPARE(parse_mail("From: a@example.org\r\nSubject: " + subject + "\r\n\r\nx\r\n").Subject,
             expected);
}

void TestMailParser::noReply_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("reason"); // empty: a reply goes

    QTest::newRow("person") << QByteArray("From: a@example.org\r\n\r\nx\r\n") << "";
    QTest::newRow("own reply address")
        << QByteArray("From: Tramelon <Tramelon@Example.net>\r\n\r\nx\r\n") << "adresse de réponse";
    QTest::newRow("list") << QByteArray(
                                 "From: a@example.org\r\nList-Id: <l.example.org>\r\n\r\nx\r\n")
                          << "List-Id";
    QTest::newRow("no valid sender")
        << QByteArray("From: =?utf-8?q?a@vm?=\r\n\r\nx\r\n") << "RFC 2047";
}

void TestMailParser::noReply()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, reason);
    const QString why =
        raison_sans_reponse(parse_mail(raw), QStringLiteral(" tramelon@example.net "));
    if (reason.isEmpty())
        QVERIFY2(why.isEmpty(), qPrintable(why));
    else
        QVERIFY2(why.startsWith(QStringLiteral("Pas de réponse : ")) && why.contains(reason),
                 qPrintable(why));
}

void TestMailParser::htmlPartOfAlternative()
{
    const QString html = mail_html_part(readData("alternative_html.eml"));
    QVERIFY2(html.contains(QLatin1String("<p>Commande: run.bat;<br>Code: ZZ99YY88XX77;</p>")),
             qPrintable(html));
    QVERIFY(mail_html_part(readData("plain_ascii.eml")).isEmpty());
}

void TestMailParser::malformedGivesWhatCanBeRead()
{
    const Pop3Message mail = parse_mail(readData("malformed.eml"));
    QVERIFY2(mail.Subject.endsWith(QLatin1String(" broken")), qPrintable(mail.Subject));
    QCOMPARE(mail.Sender.Address, QStringLiteral("broken@example.org"));
    QVERIFY2(mail.Body.startsWith(QLatin1String("Commande: run.bat;")), qPrintable(mail.Body));
}

void TestMailParser::garbageNeverThrows_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no header end") << QByteArray("Subject: x");
    QTest::newRow("binary") << QByteArray("\0\xff\xfe\r\n\r\n\x80\x81", 10);
    QTest::newRow("nested boundaries without end")
        << QByteArray("Content-Type: multipart/mixed; boundary=a\r\n\r\n--a\r\n"
                      "Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\n");
    QTest::newRow("bad encoded word")
        << QByteArray("Subject: =?UTF-8?B?@@@?= =?UTF-8?Q?=ZZ?=\r\n\r\n");
}

void TestMailParser::garbageNeverThrows()
{
    QFETCH(QByteArray, raw);
    const Pop3Message mail = parse_mail(raw);
    QCOMPARE(mail.Raw, raw);
    QVERIFY(mail.Sender.Address.isEmpty());
}

void TestMailParser::htmlToText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");

    QTest::newRow("source breaks are blanks") << "a\nb\r\n  c"
                                              << "a b c\r\n";
    QTest::newRow("br") << "a<br>b<BR/>c"
                        << "a\r\nb\r\nc\r\n";
    QTest::newRow("paragraphs") << "<p>one</p><p>two</p>"
                                << "one\r\n\r\ntwo\r\n";
    QTest::newRow("entities") << "&lt;b&gt; &amp;amp; &#65;&#x42; &eacute; &unknown;"
                              << QString::fromUtf8("<b> &amp; AB é &unknown;\r\n");
    QTest::newRow("script and comments dropped")
        << "<script>var x = '<p>';</script>ok<!-- <br> -->!"
        << "ok!\r\n";
    QTest::newRow("attributes with >") << "<a href=\"x\" title='t'>link</a>"
                                       << "link\r\n";
}

void TestMailParser::htmlToText()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(html_to_text(html), text);
}

void TestMailParser::authenticationResults_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("results");
    QTest::addColumn<QString>("fromDomain");
    QTest::newRow("the topmost of two, folded")
        << QByteArray("Received: by mx.example.net\r\n"
                      "Authentication-Results: mx.example.net;\r\n"
                      "\tdmarc=fail header.from=x.org\r\n"
                      "Authentication-Results: mx.example.net; dmarc=pass\r\n"
                      "From: A <a@X.org>\r\n")
        << QByteArray("mx.example.net;\tdmarc=fail header.from=x.org") << "x.org";
    QTest::newRow("name in another case, none in the body")
        << QByteArray("authentication-results: spf=pass\r\nFrom: a@x.org\r\n\r\n"
                      "Authentication-Results: mx; dmarc=pass\r\n")
        << QByteArray("spf=pass") << "x.org";
    QTest::newRow("no From: the Sender's domain is no From domain")
        << QByteArray("Sender: a@x.org\r\n") << QByteArray() << "";
}

void TestMailParser::authenticationResults()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, results);
    QFETCH(QString, fromDomain);
    const QByteArray raw =
        headers + (headers.contains("\r\n\r\n") ? "" : "Subject: x\r\n\r\nbody\r\n");
    const Pop3Message mail = parse_mail(raw);
    QCOMPARE(mail.AuthenticationResults, results);
    QCOMPARE(mail.FromDomain, fromDomain);
}

QTEST_GUILESS_MAIN(TestMailParser)
#include "tst_mail_parser.moc"
