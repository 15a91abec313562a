// The bounded reader's answer, as the server decodes it from the child's
// output: a cut or garbled answer is refused, never half taken.
#include "fuzz/fuzz_input.h"
#include "server/vmime/bounded_mail_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<Pop3Message> mail = lecture_bornee::decoder(fuzz::octets(data, size));
    if (!mail)
        return 0;
    // What was taken must travel again unchanged.
    const std::optional<Pop3Message> encore =
        lecture_bornee::decoder(lecture_bornee::encoder(*mail));
    if (!encore || encore->Subject != mail->Subject || encore->Body != mail->Body ||
        encore->Sender.Address != mail->Sender.Address || encore->References != mail->References)
        __builtin_trap();
    return 0;
}
