// The windows arrive with their own change.
