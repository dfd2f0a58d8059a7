#!/bin/sh
# Regenerates the bundled sample documents from the PostScript below with
# Ghostscript's ps2pdf. The PDFs are committed, so only run this to change them.
#   text.pdf       one page of text in several faces and sizes, and hairlines
#   photo.pdf      one page with a gray wedge, a gradient, colour patches and
#                  a synthetic colour photograph
#   multipage.pdf  five pages; page k carries k wide black bars and its number,
#                  so page order can be read back from the ink on each page
#   frame.jpg      a 600 x 800 pixel photo (72 dpi): a black frame round white,
#                  so the place where an image lands on the sheet can be measured
#   light.jpg      the same size, a uniform light gray (75 %), whose edges meet
#                  white paper the way a light photograph's do
#   prose.pdf      one page of running text, 60 lines of 10-point Times: what
#                  an office job mostly prints, and the benchmarks' text page
# Names given on the command line (text photo multipage prose frame light) limit the run.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Fixed dates keep the files identical from run to run.
export SOURCE_DATE_EPOCH=1700000000
PS2PDF="ps2pdf -dPDFSETTINGS=/printer -dCompatibilityLevel=1.4"

cat > "$tmp/text.ps" <<'PS'
%!PS-Adobe-3.0
<< /PageSize [595 842] >> setpagedevice
/F { findfont exch scalefont setfont } def
/L { moveto show } def
20 /Helvetica-Bold F (Quorin test page: text) 56 780 L
10 /Helvetica F (Every line below should print sharp, with clean edges and no broken strokes.) 56 760 L
11 /Times-Roman F
/y 730 def
[ (A printer that receives whole page bitmaps relies on the host to place every glyph.)
  (This page mixes serif, sans-serif and monospaced faces at the sizes that office)
  (documents use, so that thin stems, serifs and counters show how well the screen)
  (and the edge enhancement keep small text readable. Compare the 6 point line with)
  (the 24 point one: both should look equally black, only their size should differ.)
] { 56 y L /y y 15 sub def } forall
/y y 10 sub def
[ 6 8 10 12 16 24 ] {
  dup /Helvetica F dup 4 string cvs ( pt: Sphinx of black quartz 0123456789) concatstrings
  56 y L 6 add /y exch y exch sub def
} bind forall
/y y 10 sub def
10 /Courier F (Courier 10 pt: for (i = 0; i < n; ++i) sum += a[i];) 56 y L /y y 18 sub def
10 /Times-Italic F (Times Italic 10 pt: the lead-in, the header, the data and the trailer.) 56 y L
/y y 24 sub def
9 /Helvetica F (Hairlines, 0.25 to 2 pt:) 56 y L
0 1 7 { /i exch def
  i 1 add 0.25 mul setlinewidth
  56 y 14 sub i 10 mul sub moveto 300 0 rlineto stroke
} for
/y y 110 sub def
9 /Helvetica F (Fine boxes:) 56 y L
0 1 9 { /i exch def 0.5 setlinewidth 56 i 24 mul add y 30 sub 18 18 rectstroke } for
showpage
PS

cat > "$tmp/photo.ps" <<'PS'
%!PS-Adobe-3.0
<< /PageSize [595 842] >> setpagedevice
/F { findfont exch scalefont setfont } def
20 /Helvetica-Bold F 56 780 moveto (Quorin test page: gray and photo) show
% Gray wedge, 0 to 100 % black in steps of 10 %.
9 /Helvetica F
0 1 10 { /i exch def
  1 i 10 div sub setgray 56 i 44 mul add 690 40 60 rectfill
  0 setgray 56 i 44 mul add 676 moveto i 10 mul 3 string cvs show (%) show
} for
0 setgray 0.5 setlinewidth 56 690 484 60 rectstroke
% Smooth gradient, white to black.
gsave 56 600 translate 484 50 scale
/ramp 256 string def 0 1 255 { /j exch def ramp j 255 j sub put } for
256 1 8 [256 0 0 1 0 0] { ramp } image
grestore
0 setgray 56 600 484 50 rectstroke
% Colour patches: the printer shows each as its own shade of gray.
/px 56 def
[ [1 0 0] [0 1 0] [0 0 1] [0 1 1] [1 0 1] [1 1 0] [0.6 0.4 0.2] ] {
  aload pop setrgbcolor px 520 60 50 rectfill /px px 70 add def
} forall
% A synthetic colour photograph: sky, sun, hills and a textured field.
/W 240 def /H 180 def
/row W 3 mul string def
/yy 0 def
/pixel {  % x -> r g b (0..255)
  /x exch def
  /u x W div def /v yy H div def
  /hill 0.55 u 540 mul sin 0.08 mul add u 1300 mul sin 0.03 mul add def
  v hill lt {
    % sky, brighter towards the horizon, with a sun
    /d u 0.75 sub dup mul v 0.25 sub dup mul add sqrt def
    d 0.09 lt { 255 240 180 } {
      /t v hill div def
      90 t 120 mul add  140 t 90 mul add  230 t 20 mul add
    } ifelse
  } {
    % field: green stripes and a little texture
    /t v hill sub 1 hill sub div def
    /s x 37 mul yy 91 mul add 360 mod sin 18 mul def
    40 t 60 mul add s add  110 t 70 mul sub u 2000 mul v 300 mul add sin 25 mul add s add  30 s add
  } ifelse
  3 { 3 1 roll dup 0 lt { pop 0 } if dup 255 gt { pop 255 } if cvi } repeat
} bind def
gsave 56 130 translate 480 360 scale
W H 8 [W 0 0 H neg 0 H] {
  0 1 W 1 sub { dup pixel 4 -1 roll 3 mul /o exch def
    row o 2 add 3 -1 roll put row o 1 add 3 -1 roll put row o 3 -1 roll put } for
  /yy yy 1 add def row
} false 3 colorimage
grestore
0 setgray 1 setlinewidth 56 130 480 360 rectstroke
showpage
PS

cat > "$tmp/multipage.ps" <<'PS'
%!PS-Adobe-3.0
<< /PageSize [595 842] >> setpagedevice
/F { findfont exch scalefont setfont } def
1 1 5 { /k exch def
  14 /Helvetica F 56 800 moveto (Page ) show k 2 string cvs show ( of 5) show
  % k bars of 400 x 36 pt: the ink grows by one bar per page.
  1 1 k { /b exch def 56 780 b 48 mul sub 400 36 rectfill } for
  72 /Helvetica-Bold F 56 120 moveto k 2 string cvs show
  showpage
} for
PS

cat > "$tmp/prose.ps" <<'PS'
%!PS-Adobe-3.0
<< /PageSize [595 842] >> setpagedevice
10 /Times-Roman findfont exch scalefont setfont
/words [ (the) (printer) (page) (of) (a) (and) (to) (in) (driver) (bitmap) (each) (line)
  (with) (host) (toner) (paper) (is) (for) (that) (report) (quarterly) (figures) (as)
  (shows) (which) (their) (office) (document) (letter) (from) (we) (will) (not) (been)
  (meeting) (agreed) (budget) (review) (next) (week) (before) (after) (should) (could)
  (customer) (account) (invoice) (number) (services) (delivery) (2024) (15) (March)
  (summary) (results) (department) (minutes) (project) (schedule) (plan) (draft) ] def
% A fixed pseudo-random word order: every line differs, every run is the same.
/seed 12345 def
/rand { /seed seed 1103515245 mul 12345 add 16#7fffffff and def seed -16 bitshift } def
/y 780 def
60 {
  56 y moveto
  { words rand words length mod get
    dup stringwidth pop currentpoint pop add 539 gt { pop exit } if
    show ( ) show } loop
  /y y 12 sub def
} repeat
showpage
PS

printf '%%!PS\n0 setgray 0 0 600 800 rectfill 1 setgray 30 30 540 740 rectfill showpage\n' > "$tmp/frame.ps"
printf '%%!PS\n0.75 setgray 0 0 600 800 rectfill showpage\n' > "$tmp/light.ps"

docs=${*:-text photo multipage prose frame light}
for doc in $docs; do
    case $doc in
    frame | light)
        gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r72 -g600x800 -sOutputFile="$doc.jpg" "$tmp/$doc.ps"
        ls -l "$doc.jpg"
        ;;
    *)
        $PS2PDF "$tmp/$doc.ps" "$doc.pdf"
        ls -l "$doc.pdf"
        ;;
    esac
done
