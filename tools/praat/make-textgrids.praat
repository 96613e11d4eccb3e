# Writes the TextGrid files the reader tests check against: two interval
# tiers and a point tier with texts that test quoting, line breaks and
# characters outside ASCII, saved in the long text form, the short text form
# and (as UTF-16) the long form again.
#
#   tools/praat/make-textgrids.sh [OUTPUT_FOLDER]
#
# (Praat resolves a relative folder against the script's own folder, so the
# shell script passes an absolute one.)

form Make test TextGrids
    sentence Folder .
endform

grid = Create TextGrid: 0, 2.5, "words phones tones", "tones"

selectObject: grid
Insert boundary: 1, 0.35
Insert boundary: 1, 1.2
Insert boundary: 1, 2.125
Set interval text: 1, 1, ""
Set interval text: 1, 2, "say ""hello"""
Set interval text: 1, 3, "ʃé日本"
Set interval text: 1, 4, "two" + newline$ + "lines"

Insert boundary: 2, 0.35
Insert boundary: 2, 0.6
Insert boundary: 2, 0.987654321
Set interval text: 2, 2, "a"
Set interval text: 2, 3, ""
Set interval text: 2, 4, "ʃ"

Insert point: 3, 0.5, "H*"
Insert point: 3, 1.75, "L-L%"
Insert point: 3, 2.25, """"""

Text writing preferences: "UTF-8"
Save as text file: folder$ + "/praat-long-utf8.TextGrid"
Save as short text file: folder$ + "/praat-short-utf8.TextGrid"
Text writing preferences: "UTF-16"
Save as text file: folder$ + "/praat-long-utf16.TextGrid"
Save as short text file: folder$ + "/praat-short-utf16.TextGrid"
Text writing preferences: "UTF-8"

# A grid whose only tier is a point tier without points.
points = Create TextGrid: 0.5, 3, "marks", "marks"
Save as text file: folder$ + "/praat-empty-points.TextGrid"
Save as short text file: folder$ + "/praat-empty-points-short.TextGrid"
removeObject: points, grid
