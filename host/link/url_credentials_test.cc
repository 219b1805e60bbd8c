#include "host/link/url_credentials.h"

#include <gtest/gtest.h>

namespace {

// The proxy's export line, as the board echoes it, is unattended_run_test's whole run.
TEST(HideUrlCredentials, HidesTheUserInformationOfEveryUrl) {
  EXPECT_EQ(HideUrlCredentials("a http://u@h b https://x:y@z/p@q c"), "a http://***@h b https://***@q c");
  // A password with "/", "?" or "@" in it is hidden whole.
  EXPECT_EQ(HideUrlCredentials("http://u:p/w?d@host:1"), "http://***@host:1");
  EXPECT_EQ(HideUrlCredentials("'http://u:p@@h' x@y"), "'http://***@h' x@y");
  for (const char* kept : {"http://192.168.102.134:3128", "Get:1 http://ftp.debian.org/x.deb", "root@brenlo:~#",
                           "://", "mail me@home", ""}) {
    EXPECT_EQ(HideUrlCredentials(kept), kept);
  }
}

}  // namespace
