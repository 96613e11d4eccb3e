# Times Praat's "To Formant (burg)" with its default arguments on one sound file:
#   praat --run formant_burg.praat FILE.wav
# prints "To Formant (burg)<TAB>seconds" (wall time of the command alone, not of reading).
form Time To Formant (burg)
    sentence File
endform
sound = Read from file: file$
stopwatch
result = To Formant (burg): 0, 5, 5500, 0.025, 50
seconds = stopwatch
writeInfoLine: "To Formant (burg)", tab$, fixed$(seconds, 3)
