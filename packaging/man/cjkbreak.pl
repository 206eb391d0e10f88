# SPDX-License-Identifier: MIT
# groff 1.22 breaks lines only at spaces, so a Chinese sentence would overrun the line. This
# lets it break between two CJK characters, as CJK text is broken, but never before a closing
# mark or after an opening one. Headings and comments stay as written.
#   perl -CSD -p cjkbreak.pl page.1 > page.1.out
use utf8;
my $open = qr/[「『（〈《]/;
my $close = qr/[」』）〉》、。，；：！？]/;
s/(\p{sc=Han}|$close)(?=\p{sc=Han}|$open)/$1\\:/g unless /^\.(TH|SH|SS)\b/ || /^\.\\"/;
