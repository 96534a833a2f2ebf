// The time a request's sender waits for its answer, as the save path sees it: a file is put in
// place only while the answer can still reach the sender in time.
#pragma once

namespace acro_host {

// Makes every save refuse to replace its file once the request being handled is past its
// sender's reply deadline (less the time the answer needs to get back). Also reads the test
// option $QUILLMARK_ACROBAT_SAVE_DELAY_MS: milliseconds each save waits before putting its file
// in place, to stand in for a slow disk.
void installRequestDeadline();

}  // namespace acro_host
