# The reference tool's Burg formants of one sound file at one instant:
#   praat --run formant_at.praat FILE.wav CEILING TIME
# prints F1 … F5 (Hz) at TIME (s), tab-separated; "--undefined--" where
# there is none. Analysis: To Formant (burg) with a time step of 0 (its
# default), 5 formants, the ceiling given, a 0.025 s window and
# pre-emphasis from 50 Hz.
form Formants at an instant
    sentence File
    positive Ceiling 5500
    positive Time 0.25
endform
sound = Read from file: file$
formant = To Formant (burg): 0, 5, ceiling, 0.025, 50
line$ = ""
for i to 5
    value = Get value at time: i, time, "hertz", "linear"
    line$ = line$ + fixed$(value, 3)
    if i < 5
        line$ = line$ + tab$
    endif
endfor
writeInfoLine: line$
