*this is not spam*
*this is not a spam*
*this message is not spam*
*this email is not spam*
*this e-mail is not spam*
*is not unsolicited*
*not unsolicited*
*s. 1618*
*s.1618*
*s 1618*
*bill 1618*
*section 301*
*sent in compliance with*
*is sent in compliance*
*in accordance with*federal*
*one time mailing*
*one-time mailing*
*one time e-mail*
*one-time e-mail*
*one time email*
*one-time email*
*this is a one time*
*will not receive further*
*will not receive any further*
*will not be contacted again*
*never receive another*
*not receive another*
*opt-in list*
*opt in list*
*opt-in e-mail*
*opt-in email*
*opt-in database*
*opted in to receive*
*opted-in to receive*
*your email address was obtained*
*your e-mail address was obtained*
*your address was obtained*
*we obtained your*
*we apologize for any inconvenience*
*sorry for any inconvenience*
