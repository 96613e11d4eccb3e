# Times Praat's "To Pitch (cc)" with its default arguments on one sound file:
#   praat --run pitch_cc.praat FILE.wav
# prints "To Pitch (cc)<TAB>seconds" (wall time of the command alone, not of reading).
form Time To Pitch (cc)
    sentence File
endform
sound = Read from file: file$
stopwatch
result = To Pitch (cc): 0, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600
seconds = stopwatch
writeInfoLine: "To Pitch (cc)", tab$, fixed$(seconds, 3)
